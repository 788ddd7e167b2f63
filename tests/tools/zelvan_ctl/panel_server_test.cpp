// The panel's gate against raw requests to an in-process server: whatever a
// web page, another user or a sloppy client sends that is not the panel's
// own page asking is refused and reaches no driver.
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/zelvan_ctl/raw_http.h"
#include "tools/zelvan_ctl/panel/panel_server.h"

namespace zelvan::ctl {
namespace {

const PanelKeys kKeys{std::string(64, 'a'), std::string(64, 'b')};

// A driver that says the same to everything and keeps what it was sent.
struct ScriptedDriver {
	std::mutex mutex;
	std::vector<std::string> sent;

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
			return Exchange{Outcome::Replied, command == "status" ? "proximity=true source=sensor raw=1234" : "OK", -1};
		};
	}
};

class PanelServerTest : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		ASSERT_TRUE(server.Bind(0, error)) << error;
		port = std::to_string(server.Port());
		runner = std::thread([this] { server.Run(); });
	}
	void TearDown() override
	{
		server.Stop();
		runner.join();
	}

	// {HOST}, {ORIGIN} and {COOKIE} become the panel's own.
	std::string Send(std::string request)
	{
		const auto fill = [&](const std::string &mark, const std::string &text) {
			for (size_t at; (at = request.find(mark)) != std::string::npos;)
				request.replace(at, mark.size(), text);
		};
		fill("{HOST}", "127.0.0.1:" + port);
		fill("{ORIGIN}", "http://localhost:" + port);
		fill("{COOKIE}", "zelvan_panel=" + kKeys.session);
		return test::RawRequest(server.Port(), request);
	}

	ScriptedDriver driver;
	// The idle end is far beyond any run of this test: Stop ends it.
	PanelServer server{PanelApi(driver.Send(), "test-channel", std::chrono::milliseconds(100)), kKeys,
	                   std::chrono::hours(1)};
	std::string port;
	std::thread runner;
};

int StatusOf(const std::string &response)
{
	return response.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(response.c_str() + 9) : 0;
}

std::string Post(const std::string &path, const std::string &headers, const std::string &body)
{
	return "POST " + path + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n" + headers +
	       "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kOurs = "Cookie: {COOKIE}\r\nOrigin: {ORIGIN}\r\n";
const std::string kJson = "Content-Type: application/json\r\n";

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
    {"an oversized header", "GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: {COOKIE}\r\nX-Pad: " +
                                std::string(5000, 'x') + "\r\nConnection: close\r\n\r\n", 400},
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

TEST_F(PanelServerTest, OpenGivesTheCookieThatLetsThePageAskAndChange)
{
	const std::string opened = Send("GET /open?key=" + kKeys.open + " HTTP/1.1\r\nHost: {HOST}\r\nConnection: close\r\n\r\n");
	EXPECT_EQ(StatusOf(opened), 200);
	EXPECT_NE(opened.find("<meta http-equiv=\"refresh\" content=\"0;url=/\">"), std::string::npos);
	EXPECT_NE(opened.find("Set-Cookie: zelvan_panel=" + kKeys.session + "; HttpOnly; SameSite=Strict; Path=/\r\n"),
	          std::string::npos);

	const std::string status = Send("GET /api/status HTTP/1.1\r\nHost: {HOST}\r\nCookie: other=1; {COOKIE}\r\nConnection: close\r\n\r\n");
	EXPECT_EQ(StatusOf(status), 200);
	EXPECT_NE(status.find(R"({"reachable":true,"refused":0,"status":{"proximity":true,"raw":1234,"source":"sensor"},"why":""})"),
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
	EXPECT_EQ(driver.Sent(), (std::vector<std::string>{"status", "proximity off for 90s", "proximity persist on", "ipd 63.5"}));
}

TEST_F(PanelServerTest, AnotherUserWithoutTheSecretIsRefused)
{
	const auto response = test::RawRequestAsOtherUser(
	    server.Port(), "GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\nConnection: close\r\n\r\n");
	if (!response)
		GTEST_SKIP() << "needs root on a POSIX system";
	EXPECT_EQ(StatusOf(*response), 403) << *response;
	EXPECT_TRUE(driver.Sent().empty());
}

// Nobody asks: the panel ends by itself, without a Stop.
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
