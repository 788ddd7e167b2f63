// zelvan-ctl record's polling against scripted driver replies: what reaches
// the file, and how each way a driver can fail a recording ends it.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/tuning/record_session.h"
#include "tools/zelvan_ctl/tuning/sample_recorder.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#endif

namespace zelvan::ctl {
namespace {

const char *const kNoDriver = "<no driver>";
const char *const kNoReplyInTime = "<timed out>";
const std::string kStatus = "proximity=false hid=open source=algorithm prox_raw=300 cal=1180 thresh=1500 hyst=100 "
                            "trim=-20 averaged_prox=300 detected=false eff_thresh=1480 samples=9 report_rate_ms=50 "
                            "log_verbosity=0 moving_avg_length=8 ipd=63.5mm lh_config=loaded";

// A reply that fills the driver's 511 characters: more may be waiting.
std::string FullReply(uint32_t first, uint32_t count)
{
	std::string reply = "OK next=" + std::to_string(first + count - 1);
	for (uint32_t n = first; n < first + count; ++n)
		reply += " " + std::to_string(n) + ":65535:" + std::to_string(50 * n); // 23 characters each
	return reply;
}

struct Case {
	const char *name;
	std::vector<std::pair<std::string, std::string>> script; // command sent, reply given
	std::vector<std::string> labels;                         // one Collect each
	int begin_status;
	int collect_status; // of the last Collect
	std::string written;
	std::string message; // part of what the user is told; empty: nothing
	int32_t threshold_offset = 0;
	size_t room = 0; // bytes the file takes before its disk is full; 0: no end
};

// A file on a disk that fills up after `room` bytes, taking part of the
// write that does not fit, as a real one does.
class FullDisk : public std::stringbuf {
public:
	explicit FullDisk(size_t room) : room_(room) {}

protected:
	int_type overflow(int_type c) override
	{
		if (room_ != 0 && str().size() >= room_)
			return traits_type::eof();
		return std::stringbuf::overflow(c);
	}
	std::streamsize xsputn(const char *s, std::streamsize n) override
	{
		std::streamsize done = 0;
		while (done < n && overflow(traits_type::to_int_type(s[done])) != traits_type::eof())
			++done;
		return done;
	}

private:
	size_t room_;
};

TEST(RecordPolling, WritesEachReadingOnceAndEndsOnTheDriversFailures)
{
	const Case cases[] = {
		{"the phase's label goes only on readings fetched after its now",
		 {{"status", kStatus},
		  {"samples", "OK next=10"},
		  {"samples 10", "OK next=12 11:300:7000 12:310:7050"},
		  {"samples 12", "OK next=14 13:1900:7100 14:1950:7150"},
		  {"samples 14", "OK next=14"},
		  {"samples 14", "OK next=15 15:1960:7200"}},
		 {"", "on", "on", ""},
		 0, 0, "0 300\n50 310\n100 1900 on\n150 1950 on\n200 1960\n", ""},
		{"lost readings: one warning with the count, and the gap kept in the times",
		 {{"status", kStatus},
		  {"samples", "OK next=0"},
		  {"samples 0", "OK next=2 1:300:500 2:301:550"},
		  {"samples 2", "OK next=40 lost=30 33:302:2100 40:303:2450"},
		  {"samples 40", "OK next=50 lost=5 46:304:2750"}},
		 {"off", "off", "off"},
		 0, 0, "0 300 off\n50 301 off\n1600 302 off\n1950 303 off\n2250 304 off\n",
		 "warning: 30 readings were lost"},
		{"a reply that fills the line is followed by another at once",
		 {{"status", kStatus},
		  {"samples", "OK next=1000000"},
		  {"samples 1000000", FullReply(1000001, 21)},
		  {"samples 1000021", "OK next=1000022 1000022:65535:50001100"}},
		 {""},
		 0, 0, [] {
			 std::string text;
			 for (int n = 0; n < 22; ++n)
				 text += std::to_string(50 * n) + " 65535\n";
			 return text;
		 }(), ""},
		{"the driver's clock wraps: times go on counting up",
		 {{"status", kStatus},
		  {"samples", "OK next=0"},
		  {"samples 0", "OK next=2 1:300:4294967290 2:300:20"}},
		 {""},
		 0, 0, "0 300\n26 300\n", ""},
		{"a driver restarted mid-recording: the readings before stay",
		 {{"status", kStatus},
		  {"samples", "OK next=500"},
		  {"samples 500", "OK next=501 501:300:9000"},
		  {"samples 501", "ERR samples: 501 is ahead of the newest reading 12"}},
		 {"", ""},
		 0, 1, "0 300\n", "the driver restarted during the recording"},
		{"a poll not answered in time is asked again",
		 {{"status", kStatus},
		  {"samples", "OK next=3"},
		  {"samples 3", kNoReplyInTime},
		  {"samples 3", kNoReplyInTime},
		  {"samples 3", "OK next=4 4:300:100"}},
		 {""},
		 0, 0, "0 300\n", ""},
		{"three polls in a row not answered in time: the cause named",
		 {{"status", kStatus},
		  {"samples", "OK next=3"},
		  {"samples 3", kNoReplyInTime},
		  {"samples 3", kNoReplyInTime},
		  {"samples 3", kNoReplyInTime}},
		 {""},
		 0, 1, "", "the driver did not answer 3 polls in a row in time"},
		{"a driver gone mid-recording",
		 {{"status", kStatus}, {"samples", "OK next=3"}, {"samples 3", kNoDriver}},
		 {""},
		 0, 2, "", ""},
		{"a driver that has no samples command",
		 {{"status", kStatus}, {"samples", "ERR unknown command"}},
		 {},
		 1, 0, "", "the running driver is older and has no samples command; update it"},
		{"no sensor reader: no calibration to record",
		 {{"status", "proximity=false hid=not_connected source=algorithm report_rate_ms=200 log_verbosity=0 "
		             "moving_avg_length=8 ipd=unknown lh_config=not_loaded"}},
		 {},
		 1, 0, "", "the sensor is not connected (hid=not_connected)"},
		{"the sensor reconnecting: refused at once, before any samples",
		 {{"status", kStatus.substr(0, kStatus.find(" hid=")) + " hid=reconnecting" +
		                 kStatus.substr(kStatus.find(" source="))}},
		 {},
		 1, 0, "", "the sensor is not connected (hid=reconnecting)"},
		{"a reply to samples that is not one",
		 {{"status", kStatus}, {"samples", "OK next=abc"}},
		 {},
		 1, 0, "", "reply to samples is not understood"},
		{"the threshold offset comes from the status when it is there",
		 {{"status", kStatus + " threshold_offset=-250"}, {"samples", "OK next=0"}},
		 {},
		 0, 0, "", "", -250},
		{"a report rate outside the driver's range: nothing to record that tune would read",
		 {{"status", kStatus.substr(0, kStatus.find("report_rate_ms=")) + "report_rate_ms=20 log_verbosity=0 "
		             "moving_avg_length=8 ipd=63.5mm lh_config=loaded"}},
		 {},
		 1, 0, "", "lacks the calibration or settings"},
		{"a full disk mid-line: the file keeps only whole lines",
		 {{"status", kStatus},
		  {"samples", "OK next=10"},
		  {"samples 10", "OK next=12 11:300:7000 12:310:7050"},
		  {"samples 12", "OK next=14 13:1900:7100 14:1950:7150"}},
		 {"", ""},
		 0, 1, "0 300\n50 310\n", "is the disk full?", 0, 16},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		std::deque<std::pair<std::string, std::string>> script(c.script.begin(), c.script.end());
		const SendToDriver send = [&](const std::string &command) {
			if (script.empty()) {
				ADD_FAILURE() << "unexpected " << command;
				return Exchange{Outcome::Failed, "script ended"};
			}
			const auto [expected, reply] = script.front();
			script.pop_front();
			EXPECT_EQ(command, expected);
			if (reply == kNoReplyInTime)
				return Exchange{Outcome::TimedOut, {}};
			return reply == kNoDriver ? Exchange{Outcome::NoDriver, {}} : Exchange{Outcome::Replied, reply};
		};
		// What the command line makes of a failure: its status and message.
		std::ostringstream messages;
		const auto status_of = [&](const MaybeFailure &failure) {
			if (!failure)
				return 0;
			if (failure->no_reply)
				return failure->no_reply->outcome == Outcome::NoDriver ? 2 : 3;
			messages << failure->message << "\n";
			return 1;
		};
		FullDisk disk(c.room);
		std::ostream file(&disk);
		SampleRecorder recorder(send);
		RecordingHeader header;
		ASSERT_EQ(status_of(recorder.Begin(header)), c.begin_status) << messages.str();
		int status = 0;
		for (const std::string &label : c.labels) {
			const MaybeFailure failure = recorder.Collect(file, label);
			if (std::string warning = recorder.TakeWarning(); !warning.empty())
				messages << "warning: " << warning << "\n";
			if ((status = status_of(failure)) != 0)
				break;
		}
		EXPECT_EQ(status, c.collect_status) << messages.str();
		EXPECT_EQ(disk.str().substr(0, recorder.KeptBytes()), c.written);
		if (c.room == 0) {
			EXPECT_EQ(disk.str().size(), recorder.KeptBytes());
		}
		EXPECT_TRUE(script.empty()) << script.size() << " replies left, the first for " << script.front().first;
		if (c.message.empty()) {
			EXPECT_EQ(messages.str(), "");
		} else {
			EXPECT_NE(messages.str().find(c.message), std::string::npos) << messages.str();
			EXPECT_EQ(messages.str().find('\n'), messages.str().size() - 1) << "said once: " << messages.str();
		}
		if (c.begin_status == 0) {
			EXPECT_EQ(header.cal, 1180);
			EXPECT_EQ(header.trim, -20);
			EXPECT_EQ(header.report_period_ms, 50u);
			EXPECT_EQ(header.threshold_offset, c.threshold_offset);
		}
	}
}

// The whole command against a driver that always has one more reading:
// where the file goes, and what the user is told to run next.
TEST(RecordCommand, SaysWhyAFileCannotBeWrittenAndQuotesItInTheNextCommand)
{
	namespace fs = std::filesystem;
	const fs::path dir = fs::temp_directory_path() / ("zelvan_record_" + std::to_string(std::random_device()()));
	fs::create_directories(dir / "a folder");
	// How the driver behaves after its status: always one more reading, none
	// at all, readings it no longer kept, or a restart before the first
	// poll. Each shows in the first poll, which every recording makes.
	enum class Driver { OneMore, Silent, Losing, Restarts, RateChanged };
	struct Row {
		std::string file;
		int exit;
		std::string says; // on stdout when the exit is 0, else on stderr
		Driver driver = Driver::OneMore;
	};
	const std::string plain = (dir / "plain.rec").string();
	const std::string spaced = (dir / "it's mine.rec").string();
	const Row rows[] = {
		{plain, 0, "Next: zelvan-ctl tune " + plain + " --svg"},
		{(dir / "silent.rec").string(), 1, "no readings came from the sensor; " + (dir / "silent.rec").string() +
		                                       " holds only the header", Driver::Silent},
		{(dir / "losing.rec").string(), 0, "(5 lost on the way)", Driver::Losing},
		{(dir / "restart.rec").string(), 1, "the recording in " + (dir / "restart.rec").string() + " stops there",
		 Driver::Restarts},
#ifdef _WIN32
		{spaced, 0, "Next: zelvan-ctl tune \"" + spaced + "\" --svg"},
#else
		{spaced, 0, "Next: zelvan-ctl tune '" + (dir / "it'\\''s mine.rec").string() + "' --svg"},
#endif
		{(dir / "changed.rec").string(), 1,
		 "the driver's settings changed during the recording: report_rate_ms from 50 to 500 (a zelvan-ctl set "
		 "meanwhile?); " +
			 (dir / "changed.rec").string() + " is not usable as one recording and was removed: record again",
		 Driver::RateChanged},
		{(dir / "a folder").string(), 1, "cannot be written: "},
		{(dir / "earlier.rec").string(), 1, "already exists; a recording is never written over"},
		{(dir / "none" / "x.rec").string(), 1, "cannot be written: "},
#ifndef _WIN32
		{(dir / "planted.rec").string(), 1, "is a link made by another user"},
		// Created, not opened: a link is not followed even to a file not there yet.
		{(dir / "dangling.rec").string(), 1, "already exists; a recording is never written over"},
#endif
	};
#ifndef _WIN32
	// Another user's link to a file of ours: only root can make one here.
	const fs::path victim = dir / "victim";
	std::ofstream(victim) << "kept\n";
	fs::create_symlink(victim, dir / "planted.rec");
	const bool planted = geteuid() == 0 && lchown((dir / "planted.rec").c_str(), 12345, 12345) == 0;
	fs::create_symlink(dir / "not-yet", dir / "dangling.rec");
#endif
	std::ofstream(dir / "earlier.rec") << "# zelvan-ctl record 1\n";
	for (const Row &row : rows) {
		SCOPED_TRACE(row.file);
#ifndef _WIN32
		if (row.file == (dir / "planted.rec").string() && !planted)
			continue;
#endif
		uint32_t newest = 0;
		bool status_asked = false;
		const SendToDriver send = [&](const std::string &command) {
			// A set of the report rate between the first status and the last.
			if (command == "status" && row.driver == Driver::RateChanged && std::exchange(status_asked, true)) {
				std::string changed = kStatus;
				changed.replace(changed.find("report_rate_ms=50"), 17, "report_rate_ms=500");
				return Exchange{Outcome::Replied, changed};
			}
			if (command == "status")
				return Exchange{Outcome::Replied, kStatus};
			if (row.driver == Driver::Silent)
				return Exchange{Outcome::Replied, "OK next=0"};
			if (row.driver == Driver::Restarts && command != "samples")
				return Exchange{Outcome::Replied, "ERR samples: 1 is ahead of the newest reading 0"};
			++newest;
			const std::string lost = row.driver == Driver::Losing && newest == 2 ? " lost=5" : "";
			return Exchange{Outcome::Replied, "OK next=" + std::to_string(newest) + lost + " " + std::to_string(newest) +
			                                      ":300:" + std::to_string(50 * newest)};
		};
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		const int exit = RunRecord({"--seconds", "0.05", row.file}, send, [](const Exchange &) { return 2; });
		const std::string out = testing::internal::GetCapturedStdout();
		const std::string err = testing::internal::GetCapturedStderr();
		EXPECT_EQ(exit, row.exit) << err;
		const std::string &said = row.exit == 0 ? out : err;
		EXPECT_NE(said.find(row.says), std::string::npos) << said;
		if (row.driver == Driver::Losing) { // warned of once, as it happened
			EXPECT_NE(err.find("zelvan-ctl: warning: 5 readings were lost"), std::string::npos) << err;
		}
		if (row.driver == Driver::RateChanged) {
			EXPECT_FALSE(fs::exists(row.file));
		}
		if (row.exit != 0 && row.driver == Driver::OneMore) { // the cause follows the colon
			EXPECT_GT(err.size(), err.find(row.says) + row.says.size() + 1) << err;
		}
	}
	{ // A failure is told in its place among the prompts: before the line ends.
		std::vector<RecordEvent::Kind> told;
		const RecordOutcome outcome = RecordToFile(
			{(dir / "told.rec").string(), false, 0.05}, [](const std::string &command) {
				if (command == "status" || command == "samples")
					return Exchange{Outcome::Replied, command == "status" ? kStatus : "OK next=0"};
				return Exchange{Outcome::NoDriver, {}};
			},
			[&](const RecordEvent &e) { told.push_back(e.kind); });
		EXPECT_TRUE(outcome.failure && outcome.failure->no_reply && outcome.stopped_partway);
		using Kind = RecordEvent::Kind;
		EXPECT_EQ(told, (std::vector<Kind>{Kind::Worn, Kind::Failed, Kind::Ended}));
	}
#ifndef _WIN32
	{ // The disk fills in the first poll: the file is cut back to whole lines.
		std::ifstream first(plain, std::ios::binary);
		size_t header = 0;
		for (std::string line; std::getline(first, line) && line.rfind("#", 0) == 0;)
			header += line.size() + 1;
		const std::string full = (dir / "full.rec").string();
		rlimit saved{};
		ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
		rlimit small = saved;
		small.rlim_cur = header + 30; // the header and part of the 20 readings' lines
		std::signal(SIGXFSZ, SIG_IGN);
		ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
		const SendToDriver send = [](const std::string &command) {
			if (command == "status" || command == "samples")
				return Exchange{Outcome::Replied, command == "status" ? kStatus : "OK next=0"};
			return Exchange{Outcome::Replied, FullReply(static_cast<uint32_t>(std::stoul(command.substr(8))) + 1, 20)};
		};
		const int exit = RunRecord({"--seconds", "0.05", full}, send, [](const Exchange &) { return 2; });
		setrlimit(RLIMIT_FSIZE, &saved);
		std::signal(SIGXFSZ, SIG_DFL);
		EXPECT_EQ(exit, 1);
		std::ifstream kept(full, std::ios::binary);
		const std::string text(std::istreambuf_iterator<char>(kept), {});
		EXPECT_EQ(text.size(), header) << "nothing but the header was written whole: " << text;
	}
#endif
	{ // closed before the folder is removed: Windows does not delete an open file
		std::ifstream earlier(dir / "earlier.rec");
		EXPECT_EQ(std::string(std::istreambuf_iterator<char>(earlier), {}), "# zelvan-ctl record 1\n");
	}
#ifndef _WIN32
	std::ifstream kept(victim);
	EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n") << "the planted link's target";
	EXPECT_FALSE(fs::exists(dir / "not-yet")) << "the dangling link's target";
#endif
	fs::remove_all(dir);
}

} // namespace
} // namespace zelvan::ctl
