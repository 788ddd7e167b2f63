// The console runner against the stand-in tool's fault modes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <signal.h>
#endif

#include "core/driver_log.h"
#include "ipd/console_runner.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/sim_run.h"

namespace zelvan {
namespace {

using Clock = std::chrono::steady_clock;

std::string Tool()
{
	return test::BinPath(std::string("lighthouse_console") + test::kExeSuffix);
}

#if !defined(_WIN32)
size_t OpenDescriptors()
{
	size_t n = 0;
	for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
		++n;
	return n;
}
#endif

class ConsoleRunner : public ::testing::Test {
protected:
	void SetUp() override
	{
		AttachDriverLog(&log);
		test::RunProgram({Tool(), "--init-store", scratch.path().string(), "LHR-1A2B3C4D", "63.5"});
		test::SetEnvironment("ZELVAN_LH_STORE", scratch.path().string());
		test::SetEnvironment("ZELVAN_LH_FAULT", "");
	}
	void TearDown() override
	{
		test::SetEnvironment("ZELVAN_LH_FAULT", "");
		DetachDriverLog();
	}

	ConsoleRun Download(const std::string &fault, double &seconds)
	{
		test::SetEnvironment("ZELVAN_LH_FAULT", fault);
		const auto start = Clock::now();
		const ConsoleRun run = RunLighthouseConsole(Tool(), "serial LHR-1A2B3C4D\r\n", "downloadconfig " + scratch.File("dl.json") + "\r\n");
		seconds = std::chrono::duration<double>(Clock::now() - start).count();
		return run;
	}

	test::FakeDriverLog log;
	test::ScratchDir scratch;
};

TEST_F(ConsoleRunner, EachFaultModeEndsInBoundedTime)
{
	struct Case {
		const char *fault;
		bool ok, terminated, file;
		double max_seconds;
	};
	const Case cases[] = {
		{"", true, false, true, 5},
		{"flood", true, false, true, 8},
		{"no_file", true, false, false, 5},
		{"ignore_exit", true, true, true, 20},
		{"hang", false, true, false, 20},
		{"silent", false, true, true, 20},
		{"crash", true, false, false, 5},
		{"leave_early", true, false, false, 5},
	};
#if !defined(_WIN32)
	// Held here, a SIGPIPE the runner failed to discard shows as pending
	// instead of ending the test program (or, at shutdown, the runtime).
	sigset_t pipe_signal, previous;
	sigemptyset(&pipe_signal);
	sigaddset(&pipe_signal, SIGPIPE);
	pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
#endif
	for (const Case &c : cases) {
		SCOPED_TRACE(c.fault);
		log.Clear();
		std::filesystem::remove(scratch.File("dl.json"));
		double seconds = 0;
		const ConsoleRun run = Download(c.fault, seconds);
		EXPECT_EQ(run.ok, c.ok);
		EXPECT_EQ(run.terminated, c.terminated);
		EXPECT_FALSE(run.out_of_time); // no deadline was given
		EXPECT_EQ(std::filesystem::exists(scratch.File("dl.json")), c.file);
		EXPECT_LT(seconds, c.max_seconds);
		const auto lines = log.Lines();
		if (std::string(c.fault) == "ignore_exit")
			EXPECT_EQ(lines, std::vector<std::string>{"IPD Persist: WARNING -- lighthouse_console did not exit, terminating\n"});
		else if (!c.terminated)
			EXPECT_TRUE(lines.empty()) << ::testing::PrintToString(lines);
#if !defined(_WIN32)
		sigset_t pending;
		sigpending(&pending);
		EXPECT_FALSE(sigismember(&pending, SIGPIPE)) << "a SIGPIPE is left for the caller";
		const timespec no_wait{0, 0};
		while (sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
		}
#endif
	}
#if !defined(_WIN32)
	pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
}

TEST_F(ConsoleRunner, AMissingToolIsReportedAndLeavesNothingOpen)
{
#if !defined(_WIN32)
	const size_t before = OpenDescriptors();
#endif
	const ConsoleRun run = RunLighthouseConsole(scratch.File("no_such_tool"), "serial X\r\n", "downloadconfig y\r\n");
	EXPECT_FALSE(run.ok);
	EXPECT_FALSE(run.terminated);
	EXPECT_EQ(log.Lines(), std::vector<std::string>{"IPD Persist: Failed to start lighthouse_console (err=2)\n"});
#if !defined(_WIN32)
	EXPECT_EQ(OpenDescriptors(), before);
#endif
}

TEST_F(ConsoleRunner, TypesTheCommandsAsGivenThenExit)
{
	test::SetEnvironment("ZELVAN_LH_LOG", scratch.File("typed.log"));
	double seconds = 0;
	ASSERT_TRUE(Download("", seconds).ok);
	test::SetEnvironment("ZELVAN_LH_LOG", "");
	std::ifstream in(scratch.File("typed.log"));
	std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	EXPECT_EQ(text.find("serial LHR-1A2B3C4D\\r\\n"), 0u) << text;
	EXPECT_NE(text.find("exit\\r\\n"), std::string::npos) << text;
}

// The tool's child keeps rewriting its heartbeat file while it runs; once
// the tool is killed at the deadline, the heartbeat must stop too.
TEST_F(ConsoleRunner, KillingTheToolEndsWhatItStarted)
{
	test::SetEnvironment("ZELVAN_LH_FAULT", "orphan");
	const std::string beat = scratch.File("orphan.beat");
	const ConsoleRun run = RunLighthouseConsole(Tool(), "serial LHR-1A2B3C4D\r\n", "help\r\n",
	                                            Clock::now() + std::chrono::seconds(5));
	EXPECT_TRUE(run.terminated);
	EXPECT_TRUE(run.out_of_time);
	ASSERT_TRUE(std::filesystem::exists(beat)) << "the child never started";
	const auto read_beat = [&] {
		std::ifstream in(beat);
		return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
	};
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	const std::string after_kill = read_beat();
	std::this_thread::sleep_for(std::chrono::seconds(1));
	EXPECT_EQ(read_beat(), after_kill) << "the child outlived the tool";
}

} // namespace
} // namespace zelvan
