// The panel's gate against raw requests to an in-process server: whatever a
// web page, another user or a sloppy client sends that is not the panel's
// own page asking is refused and reaches no driver.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/tools/zelvan_ctl/raw_http.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/panel/panel_folders.h"
#include "tools/zelvan_ctl/panel/panel_server.h"

namespace zelvan::ctl {
namespace {

const PanelKeys kKeys{std::string(64, 'a'), std::string(64, 'b')};

using nlohmann::json;
namespace fs = std::filesystem;

// A driver that says the same to everything, unless a test gives it other
// answers, and keeps what it was sent.
struct ScriptedDriver {
	std::mutex mutex;
	std::vector<std::string> sent;
	std::function<std::string(const std::string &)> answer;
	Outcome outcome = Outcome::Replied; // NoDriver: nothing answers

	std::vector<std::string> Sent()
	{
		std::lock_guard lock(mutex);
		return sent;
	}
	SendToDriver Send()
	{
		return [this](const std::string &command) {
			std::lock_guard lock(mutex);
			sent.push_back(command);
			if (outcome != Outcome::Replied)
				return Exchange{outcome, "", -1};
			if (answer)
				return Exchange{Outcome::Replied, answer(command), -1};
			return Exchange{Outcome::Replied, command == "status" ? "proximity=true source=sensor raw=1234" : "OK", -1};
		};
	}
};

const std::string kOurs = "Cookie: {COOKIE}\r\nOrigin: {ORIGIN}\r\n";
const std::string kJson = "Content-Type: application/json\r\n";

int StatusOf(const std::string &response)
{
	return response.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(response.c_str() + 9) : 0;
}

std::string Post(const std::string &path, const std::string &headers, const std::string &body)
{
	return "POST " + path + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n" + headers +
	       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void SetEnv(const char *name, const std::string &value)
{
#if defined(_WIN32)
	_putenv_s(name, value.c_str());
#else
	setenv(name, value.c_str(), 1);
#endif
}

class PanelServerTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		// The panel's files go to a folder of this test's, never the user's.
		data = fs::temp_directory_path() / ("zelvan-panel-test-" + std::to_string(std::random_device{}()));
		fs::create_directories(data);
		SetEnv(kPanelDataVariable, Utf8String(data));
		std::string error;
		ASSERT_TRUE(server.Bind(0, error)) << error;
		port = std::to_string(server.Port());
		runner = std::thread([this] { server.Run(); });
	}
	void TearDown() override
	{
		server.Stop();
		runner.join();
		std::error_code ignored;
		fs::remove_all(data, ignored);
	}

	// {HOST}, {ORIGIN} and {COOKIE} become the panel's own.
	std::string Fill(std::string request) const
	{
		const auto fill = [&](const std::string &mark, const std::string &text) {
			for (size_t at; (at = request.find(mark)) != std::string::npos;)
				request.replace(at, mark.size(), text);
		};
		fill("{HOST}", "127.0.0.1:" + port);
		fill("{ORIGIN}", "http://localhost:" + port);
		fill("{COOKIE}", "zelvan_panel=" + kKeys.session);
		return request;
	}
	std::string Send(const std::string &request, const std::string &then = {})
	{
		return test::RawRequest(server.Port(), Fill(request), then.empty() ? then : Fill(then));
	}

	// A GET or a change, answered with status 200 and a JSON body.
	json Ask(const std::string &path, const std::string *body = nullptr)
	{
		const std::string response =
		    Send(body == nullptr ? "GET " + path + " HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n"
		                         : Post(path, kOurs + kJson, *body));
		EXPECT_EQ(StatusOf(response), 200) << path << "\n" << response;
		const size_t at = response.find("\r\n\r\n");
		return json::parse(at == std::string::npos ? "" : response.substr(at + 4), nullptr, false);
	}
	json Change(const std::string &path, const std::string &body) { return Ask(path, &body); }

	// The recording's events once it has ended; a bound only against a hang.
	json RecordedEvents()
	{
		const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(2);
		json events = json::array();
		for (uint64_t next = 0; std::chrono::steady_clock::now() < give_up;) {
			const json page = Ask("/api/record?after=" + std::to_string(next));
			for (const json &event : page["events"])
				events.push_back(event);
			next = page["next"].get<uint64_t>();
			if (!page["running"].get<bool>())
				return events;
			std::this_thread::sleep_for(std::chrono::milliseconds(50));
		}
		ADD_FAILURE() << "the recording did not end";
		return events;
	}

	fs::path data;
	ScriptedDriver driver;
	// The idle end is far beyond any run of this test: Stop ends it.
	PanelServer server{PanelApi(driver.Send(), "test-channel", std::chrono::milliseconds(100)), kKeys,
	                   std::chrono::hours(1)};
	std::string port;
	std::thread runner;
};

struct Refusal {
	const char *name;
	std::string request;
	int status;
};

const Refusal kRefusals[] = {
    {"no cookie", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n", 403},
    {"wrong cookie", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: zelvan_panel=" + std::string(64, 'c') +
                         "\r\nConnection: close\r\n\r\n", 403},
    {"the key as the cookie", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: zelvan_panel=" + kKeys.open +
                                  "\r\nConnection: close\r\n\r\n", 403},
    {"the key in the address of another page",
     "GET /api/status?key=" + kKeys.open + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n", 403},
    {"the key in a POST's body", Post("/open", "", "key=" + kKeys.open), 403},
    {"the key with another parameter",
     "GET /open?key=" + kKeys.open + "&x=1 HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n", 403},
    {"foreign Host", "GET /api/status HTTP/1.1\r\nHost: evil.example\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 403},
    {"missing Host", "GET /api/status HTTP/1.1\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 403},
    {"our Host as a prefix",
     "GET /api/status HTTP/1.1\r\nHost: {HOST}.evil.example\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 403},
    {"foreign Origin", Post("/api/presence", "Cookie: {COOKIE}\r\nOrigin: http://evil.example\r\n" + kJson, R"({"mode":"on"})"), 403},
    {"missing Origin", Post("/api/presence", "Cookie: {COOKIE}\r\n" + kJson, R"({"mode":"on"})"), 403},
    {"GET for a change", "GET /api/quit HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"a form's content type", Post("/api/presence", kOurs + "Content-Type: text/plain\r\n", R"({"mode":"on"})"), 415},
    {"oversized body",
     "POST /api/presence HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nOrigin: {ORIGIN}\r\n" + kJson +
         "Content-Length: 70000\r\nConnection: close\r\n\r\n", 413},
    {"malformed JSON", Post("/api/presence", kOurs + kJson, R"({"mode":"on")"), 400},
    {"a JSON array", Post("/api/presence", kOurs + kJson, R"(["on"])"), 400},
    {"an unknown mode", Post("/api/presence", kOurs + kJson, R"({"mode":"sometimes"})"), 400},
    {"persist with a hold", Post("/api/presence", kOurs + kJson, R"({"mode":"on","persist":true,"for":"2h"})"), 400},
    {"a hold that is no duration", Post("/api/presence", kOurs + kJson, R"({"mode":"on","for":"2h; ipd 70"})"), 400},
    {"IPD out of range", Post("/api/ipd", kOurs + kJson, R"({"mm":80})"), 400},
    {"IPD as text", Post("/api/ipd", kOurs + kJson, R"({"mm":"63"})"), 400},
    {"a path in a parameter",
     "GET /api/samples?after=../../etc/passwd HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 400},
    {"a recording's name that climbs out", Post("/api/tune", kOurs + kJson, R"({"name":"../secret.txt"})"), 400},
    {"a recording's name that is a full path", Post("/api/tune/apply", kOurs + kJson, R"({"name":"/etc/passwd"})"), 400},
    {"a recording's name with a backslash", Post("/api/tune", kOurs + kJson, R"({"name":"a\\b.txt"})"), 400},
    {"a recording's name on a drive", Post("/api/tune", kOurs + kJson, R"({"name":"C:b.txt"})"), 400},
    {"a recording's name with a NUL", Post("/api/tune", kOurs + kJson, R"({"name":"a\u0000.txt"})"), 400},
    {"a kept copy's name that is a path", Post("/api/kept/restore", kOurs + kJson, R"({"name":"..\\x","confirm":true})"), 400},
    {"a name that is a number", Post("/api/tune", kOurs + kJson, R"({"name":7})"), 400},
    {"the parent folder as a recording's name", Post("/api/tune", kOurs + kJson, R"({"name":".."})"), 400},
    {"phases too long", Post("/api/record", kOurs + kJson, R"({"seconds":61})"), 400},
    {"phases shorter than a second", Post("/api/record", kOurs + kJson, R"({"seconds":0.5})"), 400},
    {"a count-down in halves", Post("/api/record", kOurs + kJson, R"({"count_down":2.5})"), 400},
    {"an unknown field in a report", Post("/api/report", kOurs + kJson, R"({"file":"/tmp/x"})"), 400},
    {"restore confirmed as text", Post("/api/kept/restore", kOurs + kJson, R"({"name":"a.txt","confirm":"yes"})"), 400},
    {"a mend without the panel's Origin", Post("/api/mend", "Cookie: {COOKIE}\r\n" + kJson, "{}"), 403},
    {"an event number that is not one",
     "GET /api/record?after=-1 HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 400},
    {"GET for tune", "GET /api/tune HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"GET for apply", "GET /api/tune/apply HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"GET for cancel", "GET /api/record/cancel HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"GET for a report", "GET /api/report HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"GET for a restore", "GET /api/kept/restore HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n", 405},
    {"an oversized header", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nX-Pad: " +
                                std::string(5000, 'x') + "\r\nConnection: close\r\n\r\n", 400},
    {"very many header lines", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\n" +
                                   [] { std::string lines; for (int i = 0; i < 20000; ++i) lines += "X: y\r\n"; return lines; }() +
                                   "Connection: close\r\n\r\n", 400},
};

TEST_F(PanelServerTest, RefusesWhatIsNotThePanelsOwnPageAndSendsTheDriverNothing)
{
	for (const Refusal &row : kRefusals) {
		const std::string response = Send(row.request);
		EXPECT_EQ(StatusOf(response), row.status) << row.name << "\n" << response;
		EXPECT_EQ(response.find("Access-Control"), std::string::npos) << row.name;
		EXPECT_EQ(response.find("Set-Cookie"), std::string::npos) << row.name;
	}
	EXPECT_TRUE(driver.Sent().empty());
	EXPECT_EQ(server.Refused(), std::size(kRefusals));
}

// Keep-alive requests whose first is refused: what the client sends after
// the answer (the body the gate did not wait for, or a request of the
// panel's own page) is never served nor counted: the connection ends.
struct Followed {
	const char *name;
	std::string first;
};

const Followed kFollowed[] = {
    {"a POST from another origin, its body after the answer",
     "POST /api/presence HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nOrigin: http://evil.example\r\n" + kJson +
         "Content-Length: {LENGTH}\r\n\r\n"},
    {"a form's POST, its body after the answer",
     "POST /api/ipd HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nOrigin: {ORIGIN}\r\nContent-Type: text/plain\r\n"
     "Content-Length: {LENGTH}\r\n\r\n"},
    {"a GET without the cookie", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\n\r\n"},
};

TEST_F(PanelServerTest, ARefusalEndsItsConnection)
{
	// A request that would pass the gate, as the body where there is one.
	const std::string then = Fill("GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\n\r\n");
	for (const Followed &row : kFollowed) {
		std::string first = Fill(row.first);
		if (const size_t at = first.find("{LENGTH}"); at != std::string::npos)
			first.replace(at, 8, std::to_string(then.size()));
		const std::string response = test::RawRequest(server.Port(), first, then);
		EXPECT_EQ(StatusOf(response) / 100, 4) << row.name;
		EXPECT_EQ(response.find("HTTP/1.1 ", 1), std::string::npos) << row.name << "\n" << response;
	}
	EXPECT_TRUE(driver.Sent().empty());
	EXPECT_EQ(server.Refused(), std::size(kFollowed));
}

TEST_F(PanelServerTest, OpenGivesTheCookieThatLetsThePageAskAndChange)
{
	const std::string opened = Send("GET /open?key=" + kKeys.open + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n");
	EXPECT_EQ(StatusOf(opened), 200);
	EXPECT_NE(opened.find(R"(<meta http-equiv="refresh" content="0; url=/">)"), std::string::npos);
	EXPECT_NE(opened.find("Set-Cookie: zelvan_panel=" + kKeys.session + "; HttpOnly; SameSite=Strict; Path=/\r\n"),
	          std::string::npos);

	// The key was swapped: a second use (from the history) is refused.
	EXPECT_EQ(StatusOf(Send("GET /open?key=" + kKeys.open + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n")), 403);
	// A cookie of that name planted by a page on another port comes first.
	for (const char *cookies : {"zelvan_panel=planted; {COOKIE}", "{COOKIE}; zelvan_panel=" })
		EXPECT_EQ(StatusOf(Send("GET /panel.js HTTP/1.1\r\nHost: {HOST}\r\nCookie: " + std::string(cookies) +
		                        "\r\nConnection: close\r\n\r\n")), 200) << cookies;
	const std::string status = Send("GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: other=1; {COOKIE}\r\nConnection: close\r\n\r\n");
	EXPECT_EQ(StatusOf(status), 200);
	EXPECT_NE(status.find(R"({"model":"Zelvan 2","reachable":true,"record":{"file":null,"running":false},"refused":1,)"
	                      R"("status":{"proximity":true,"raw":1234,"source":"sensor"},"vrserver_running":)"),
	          std::string::npos) << status;
	for (const char *header : {"Content-Security-Policy: default-src 'self'; img-src 'self' data:; style-src 'self'; "
	                           "script-src 'self'; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'\r\n",
	                           "X-Content-Type-Options: nosniff\r\n", "Referrer-Policy: no-referrer\r\n",
	                           "Cache-Control: no-store\r\n"})
		EXPECT_NE(status.find(header), std::string::npos) << header;

	EXPECT_EQ(StatusOf(Send(Post("/api/presence", kOurs + kJson, R"({"mode":"off","for":"90s"})"))), 200);
	EXPECT_EQ(StatusOf(Send(Post("/api/presence", kOurs + kJson, R"({"mode":"on","persist":true})"))), 200);
	EXPECT_EQ(StatusOf(Send(Post("/api/ipd", kOurs + kJson, R"({"mm":63.5})"))), 200);
	EXPECT_EQ(StatusOf(Send("GET / HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n")), 200);
	EXPECT_EQ(driver.Sent(),
	          (std::vector<std::string>{"status", "ipd?", "proximity off for 90s", "proximity persist on", "ipd 63.5"}));
}

// The model from the driver's answer to ipd?.
TEST_F(PanelServerTest, StatusNamesTheModelFromTheIpdReply)
{
	const struct {
		const char *ipd_reply;
		json model;
	} rows[] = {{"ERR ipd not supported on Zelvan 1", "Zelvan 1"},
	            {"OK ipd=63.5mm", "Zelvan 2"},
	            {"ERR unknown command", nullptr}};
	for (const auto &row : rows) {
		driver.answer = [&row](const std::string &command) {
			return command == "ipd?" ? std::string(row.ipd_reply) : std::string("proximity=true source=sensor");
		};
		EXPECT_EQ(Ask("/api/status")["model"], row.model) << row.ipd_reply;
	}
}

const std::string kRecordableStatus =
    "proximity=false hid=open source=algorithm prox_raw=300 cal=1180 thresh=1500 hyst=100 trim=0 averaged_prox=300 "
    "detected=false eff_thresh=1500 report_rate_ms=50 log_verbosity=0 moving_avg_length=8 ipd=63.5mm";

// A sensor that gives one reading at each poll.
std::string RecordableDriver(const std::string &command)
{
	if (command == "status")
		return kRecordableStatus;
	if (command == "samples")
		return "OK next=0";
	if (command.rfind("samples ", 0) == 0) {
		const unsigned long next = std::stoul(command.substr(8)) + 1;
		return "OK next=" + std::to_string(next) + " " + std::to_string(next) + ":300:" + std::to_string(50 * next);
	}
	return "OK";
}

std::vector<std::string> Kinds(const json &events)
{
	std::vector<std::string> kinds;
	for (const json &event : events)
		kinds.push_back(event["kind"]);
	return kinds;
}

TEST_F(PanelServerTest, AGuidedRecordingRunsThroughItsEventsIntoTheRecordingsFolder)
{
	driver.answer = RecordableDriver;
	const json started = Change("/api/record", R"({"seconds":1,"count_down":0})");
	ASSERT_EQ(started["ok"], true) << started;
	const std::string name = started["file"];
	EXPECT_EQ(name.rfind("guided-", 0), 0u) << name;
	EXPECT_EQ(StatusOf(Send(Post("/api/record", kOurs + kJson, "{}"))), 409);
	EXPECT_EQ(Ask("/api/status")["record"], (json{{"running", true}, {"file", name}}));

	const json events = RecordedEvents();
	std::vector<std::string> expected = {"guided"};
	for (int phase = 0; phase < 6; ++phase)
		expected.insert(expected.end(), {"round", "now", "phase_end"});
	expected.push_back("done");
	EXPECT_EQ(Kinds(events), expected) << events;
	for (size_t i = 0; i < events.size(); ++i)
		EXPECT_EQ(events[i]["n"], i + 1);
	EXPECT_EQ(events[1], (json{{"n", 2}, {"kind", "round"}, {"round", 1}, {"rounds", 3}, {"on", false}}));
	EXPECT_EQ(events.back()["file"], name);
	EXPECT_EQ(Ask("/api/record?after=" + std::to_string(events.size()))["events"], json::array());

	const json listed = Ask("/api/recordings");
	ASSERT_EQ(listed["recordings"].size(), 1u) << listed;
	EXPECT_EQ(listed["recordings"][0]["name"], name);
	EXPECT_TRUE(fs::is_regular_file(Utf8Path(listed["folder"].get<std::string>()) / Utf8Path(name)));
}

TEST_F(PanelServerTest, ACancelledRecordingEndsCancelledAndLeavesNoFile)
{
	driver.answer = RecordableDriver;
	ASSERT_EQ(Change("/api/record", R"({"seconds":60,"count_down":0})")["ok"], true);
	// Cancelled once its readings have begun, so that there is a file to remove.
	const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
	while (Kinds(Ask("/api/record")["events"]).size() < 3 && std::chrono::steady_clock::now() < give_up)
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	EXPECT_EQ(Change("/api/record/cancel", "{}")["ok"], true);
	const json events = RecordedEvents();
	ASSERT_FALSE(events.empty());
	EXPECT_EQ(events.back()["kind"], "cancelled") << events;
	const std::vector<std::string> kinds = Kinds(events);
	EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "failed"), 0) << events;
	EXPECT_EQ(Ask("/api/recordings")["recordings"], json::array());
	EXPECT_EQ(Change("/api/record/cancel", "{}")["ok"], false);
}

// A labelled recording whose wearer the current settings follow slowly.
std::string LabelledRecording()
{
	std::string text = "# zelvan-ctl record 1\n# cal=1180 thresh=1500 hyst=100 trim=0\n"
	                   "# moving_avg_length=64 report_rate_ms=50 threshold_offset=0 report_period_ms=50\n";
	uint32_t ms = 0;
	for (int phase = 0; phase < 6; ++phase)
		for (int i = 0; i < 100; ++i, ms += 50)
			text += std::to_string(ms) + (phase % 2 ? " 2300 on\n" : " 300 off\n");
	return text;
}

TEST_F(PanelServerTest, TuneAndApplyReadARecordingByItsName)
{
	std::string folder, error;
	ASSERT_TRUE(PanelFolder("recordings", folder, error)) << error;
	std::ofstream(Utf8Path(folder) / "guided-2026-01-02-030405.txt", std::ios::binary) << LabelledRecording();

	const json tuned = Change("/api/tune", R"({"name":"guided-2026-01-02-030405.txt"})");
	EXPECT_EQ(tuned["cannot_tell"], false) << tuned;
	EXPECT_EQ(tuned["current"]["moving_avg_length"], 64);
	EXPECT_EQ(tuned["keep"], false);
	EXPECT_NE(tuned["report"].get<std::string>().find("recommend: moving_avg_length=16"), std::string::npos) << tuned["report"];
	EXPECT_EQ(tuned["recommended"]["moving_avg_length"], 16);
	EXPECT_NE(tuned["svg"].get<std::string>().find("<svg"), std::string::npos);

	driver.answer = [](const std::string &command) {
		std::string status = kRecordableStatus;
		status.replace(status.find("moving_avg_length=8"), 19, "moving_avg_length=64");
		std::string set = command.substr(4); // "set KEY VALUE" -> "OK KEY=VALUE"
		set[set.find(' ')] = '=';
		return command == "status" ? status : "OK " + set;
	};
	const json applied = Change("/api/tune/apply", R"({"name":"guided-2026-01-02-030405.txt"})");
	EXPECT_EQ(applied["ok"], true) << applied;
	EXPECT_EQ(applied["error"], nullptr);
	EXPECT_EQ(applied["confirmed"], json::array({"moving_avg_length 64 -> 16: OK moving_avg_length=16"})) << applied;
	EXPECT_EQ(StatusOf(Send(Post("/api/tune", kOurs + kJson, R"({"name":"guided-none.txt"})"))), 404);
}

TEST_F(PanelServerTest, WithoutADriverTheAnswersSayWhyInTheCommandLinesWords)
{
	driver.outcome = Outcome::NoDriver;
	const std::string why = WhyNoReply(Exchange{Outcome::NoDriver, "", -1}, "test-channel");
	const json status = Ask("/api/status");
	EXPECT_EQ(status["model"], nullptr);
	EXPECT_EQ(status["why"], why);

	ASSERT_EQ(Change("/api/record", R"({"seconds":1})")["ok"], true);
	const json events = RecordedEvents();
	EXPECT_EQ(events, (json::array({{{"n", 1}, {"kind", "failed"}, {"text", why}}})));
	EXPECT_EQ(Ask("/api/recordings")["recordings"], json::array());

	std::string folder, error;
	ASSERT_TRUE(PanelFolder("recordings", folder, error)) << error;
	std::ofstream(Utf8Path(folder) / "guided-2026-01-02-030405.txt", std::ios::binary) << LabelledRecording();
	const json applied = Change("/api/tune/apply", R"({"name":"guided-2026-01-02-030405.txt"})");
	EXPECT_EQ(applied["ok"], false);
	EXPECT_EQ(applied["error"], why);
}

// A link planted at the recordings folder would take the recordings
// elsewhere; so could anyone who may write in the folder above it.
TEST_F(PanelServerTest, ARecordingsFolderThatIsALinkIsRefused)
{
	struct Row {
		const char *name;
		std::function<void(std::error_code &)> plant;
		const char *why;
	};
	const Row rows[] = {
	    {"a link", [&](std::error_code &ec) { fs::create_directory_symlink(data / "elsewhere", data / "recordings", ec); },
	     "is a link"},
#ifndef _WIN32
	    {"a base any user may write in",
	     [&](std::error_code &ec) { fs::permissions(data, fs::perms::all, ec); }, "can be changed by any user"},
	    {"a recordings folder any user may write in", [&](std::error_code &ec) {
		     fs::create_directory(data / "recordings", ec);
		     fs::permissions(data / "recordings", fs::perms::all, ec);
	     }, "can be changed by any user"},
#endif
	};
	for (const Row &row : rows) {
		std::error_code ec;
		fs::remove_all(data / "recordings", ec);
		fs::permissions(data, fs::perms::owner_all, ec);
		fs::create_directory(data / "elsewhere", ec);
		row.plant(ec);
		if (ec)
			GTEST_SKIP() << row.name << ": " << ec.message();
		const std::string response =
		    Send("GET /api/recordings HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nConnection: close\r\n\r\n");
		EXPECT_EQ(StatusOf(response), 500) << row.name;
		EXPECT_NE(response.find(row.why), std::string::npos) << row.name << "\n" << response;
		EXPECT_EQ(StatusOf(Send(Post("/api/record", kOurs + kJson, "{}"))), 500) << row.name;
		EXPECT_TRUE(fs::is_empty(data / "elsewhere")) << row.name;
	}
}

TEST_F(PanelServerTest, AReportGoesIntoANewFileOfTheReportsFolder)
{
	driver.answer = [](const std::string &) { return std::string("ERR unknown command"); };
	const json first = Change("/api/report", "{}");
	const json second = Change("/api/report", "{}");
	ASSERT_TRUE(first["file"].is_string() && second["file"].is_string()) << first << second;
	EXPECT_NE(first["file"], second["file"]);
	std::ifstream written(Utf8Path(first["file"].get<std::string>()), std::ios::binary);
	const std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
	EXPECT_EQ(text, first["text"]);
	EXPECT_EQ(Utf8Path(first["file"].get<std::string>()).parent_path().filename(), "reports");
}

// Another user's process gets its connection closed unread, even with the
// cookie (a server of theirs on another port of 127.0.0.1 is sent it).
TEST_F(PanelServerTest, AnotherUsersConnectionIsClosedUnread)
{
	const std::string requests[] = {
	    "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n",
	    Post("/api/presence", kOurs + kJson, R"({"mode":"off"})"),
	};
	for (const std::string &request : requests) {
		const auto response = test::RawRequestAsOtherUser(server.Port(), Fill(request));
		if (!response)
			GTEST_SKIP() << "needs root on a POSIX system";
		EXPECT_EQ(*response, "") << request;
	}
	EXPECT_TRUE(driver.Sent().empty());
	EXPECT_EQ(server.Refused(), std::size(requests));
}

// Nobody asks: the panel ends by itself, without a Stop.
// Ctrl-C or the system's SIGTERM ends the panel as quit does: exit 0 and
// its launch folder removed, not a process killed with the folder left.
TEST(PanelEnd, ASignalEndsThePanelAsQuitDoes)
{
#ifdef _WIN32
	GTEST_SKIP() << "a test cannot send Ctrl-C into another console; the launch file is not under XDG_RUNTIME_DIR";
#endif
	const fs::path runtime = fs::temp_directory_path() / ("zelvan-panel-signal-" + std::to_string(std::random_device{}()));
	fs::create_directories(runtime);
	test::ChildProcess panel;
	ASSERT_TRUE(panel.Start({test::BinPath("zelvan-ctl") + test::kExeSuffix, "panel", "--no-browser"},
	                        {{"XDG_RUNTIME_DIR", runtime.string()}}));
	// A bound against a hang only: the launch file is made before the line.
	const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
	while (panel.Output().find("in your browser") == std::string::npos && std::chrono::steady_clock::now() < give_up)
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	ASSERT_FALSE(fs::is_empty(runtime)) << panel.Output();
	ASSERT_TRUE(panel.Terminate());
	EXPECT_EQ(panel.Wait(std::chrono::minutes(1)), 0) << panel.Output();
	EXPECT_TRUE(fs::is_empty(runtime));
	fs::remove_all(runtime);
}

TEST(PanelServerIdle, EndsWhenThePageStoppedAsking)
{
	ScriptedDriver driver;
	PanelServer server(PanelApi(driver.Send(), "test-channel", std::chrono::milliseconds(100)), kKeys,
	                   std::chrono::milliseconds(1));
	std::string error;
	ASSERT_TRUE(server.Bind(0, error)) << error;
	server.Run();
	EXPECT_EQ(test::RawRequest(server.Port(), "GET / HTTP/1.1\r\n\r\n"), "");
}

} // namespace
} // namespace zelvan::ctl
