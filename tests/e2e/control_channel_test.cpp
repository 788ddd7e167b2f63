// The control channel of the driver running in the host simulator, spoken to
// by clients that share no code with it (Python's socket module on POSIX, a
// raw pipe client on Windows) and by zelvan-ctl.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace zelvan::test {
namespace {

std::vector<std::string> ClientCommand(const RunningSim &sim, const std::string &mode)
{
#if defined(_WIN32)
	return {BinPath("channel_probe.exe"), sim.ChannelPath(), mode};
#else
	return {"python3", std::string(ZELVAN_SOURCE_DIR) + "/tests/e2e/channel_client.py", sim.ChannelPath(), mode};
#endif
}

RunResult Client(const RunningSim &sim, const std::string &mode, std::vector<std::string> args)
{
	std::vector<std::string> argv = ClientCommand(sim, mode);
	argv.insert(argv.end(), args.begin(), args.end());
	return RunProgram(argv, sim.ClientEnv(), std::chrono::seconds(30));
}

RunResult Ctl(const RunningSim &sim, std::vector<std::string> args)
{
	args.insert(args.begin(), BinPath(std::string("zelvan-ctl") + kExeSuffix));
	return RunProgram(args, sim.ClientEnv(), std::chrono::seconds(30));
}

std::string Reply(const RunResult &run)
{
	const size_t at = run.output.find("reply:");
	if (at == std::string::npos)
		return "<no output: " + run.output + ">";
	return run.output.substr(at + 6, run.output.find('\n', at) - at - 6);
}

bool Closed(const RunResult &run)
{
	return run.output.find("closed:yes") != std::string::npos;
}

class ControlChannel : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_TRUE(sim.WaitForChannel()) << sim.Output(); }
	RunningSim sim;
};

TEST_F(ControlChannel, EachCommandGetsExactlyOneReplyThenTheConnectionCloses)
{
	struct Case {
		const char *command;
		const char *reply_start;
	};
	const Case cases[] = {
		{"status", "proximity=false hid="},
		{"proximity on", "OK proximity=true source=manual"},
		{"proximity off", "OK proximity=false source=manual"},
		{"proximity auto", "OK source=algorithm"},
		{"ipd?", "OK ipd=unknown"},
		{"ipd 99", "ERR ipd out of range (48-75mm)"},
		{"test_handle 1000 1", "OK handle=1000 value=true err=0"},
		{"status\\r\\n", "ERR unknown command"},
		{"bogus", "ERR unknown command"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.command);
		const RunResult run = Client(sim, "send", {c.command});
		EXPECT_EQ(Reply(run).rfind(c.reply_start, 0), 0u) << run.output;
		EXPECT_TRUE(Closed(run)) << run.output;
	}
}

TEST_F(ControlChannel, MessagesOfUpTo511BytesAreServedWholeAndLongerOnesRefusedWhole)
{
	const std::string path(496, 'p');
	EXPECT_EQ(Reply(Client(sim, "send", {"load_lh_config " + path})),
	          "ERR failed to read config: file not found or parse error");
	// Were the tail of an over-long message run as a command of its own, the
	// presence would now be manual.
	EXPECT_EQ(Reply(Client(sim, "send", {std::string(511, 'x') + "proximity on"})),
	          "ERR message too long (max 511 bytes)");
	EXPECT_EQ(Reply(Client(sim, "send", {"@512"})), "ERR message too long (max 511 bytes)");
	EXPECT_EQ(Reply(Client(sim, "send", {"@5000"})), "ERR message too long (max 511 bytes)");
	EXPECT_NE(Reply(Client(sim, "send", {"status"})).find("source=algorithm"), std::string::npos);
	const SimResult result = sim.Stop();
	const auto log = result.Log();
	EXPECT_NE(std::find(log.begin(), log.end(), "IPD: Loading lighthouse config from explicit path: " + path + "\n"),
	          log.end());
	EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string &l) { return l.find("manual") != std::string::npos; }), 0);
}

TEST_F(ControlChannel, AZeroLengthMessageIsUnansweredAndTheClientStaysConnected)
{
	const RunResult run = Client(sim, "zero-then", {"ipd?"});
	EXPECT_NE(run.output.find("reply:<none>\nreply:OK ipd=unknown"), std::string::npos) << run.output;
}

TEST_F(ControlChannel, AClientThatWritesAndClosesAtOnceIsStillServed)
{
	Client(sim, "sendclose", {"proximity on"});
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
	std::string status;
	while (std::chrono::steady_clock::now() < deadline) {
		status = Reply(Client(sim, "send", {"status"}));
		if (status.find("source=manual") != std::string::npos)
			break;
	}
	EXPECT_NE(status.find("proximity=true"), std::string::npos) << status;
	EXPECT_NE(status.find("source=manual"), std::string::npos) << status;
}

TEST_F(ControlChannel, AClientThatNeverWritesHoldsTheInstanceUntilItCloses)
{
	ChildProcess silent;
	std::vector<std::string> argv = ClientCommand(sim, "silent");
	argv.push_back("3000");
	ASSERT_TRUE(silent.Start(argv, sim.ClientEnv()));
	while (silent.Output().find("connected") == std::string::npos && !silent.Wait(std::chrono::milliseconds(10))) {
	}
	std::this_thread::sleep_for(std::chrono::milliseconds(200));
	EXPECT_EQ(Ctl(sim, {"--timeout", "0.5", "status"}).exit_code, 3);
	ASSERT_TRUE(silent.Wait(std::chrono::seconds(30)));
	const RunResult after = Ctl(sim, {"--timeout", "5", "status"});
	EXPECT_EQ(after.exit_code, 0) << after.output;
}

TEST_F(ControlChannel, AClientThatNeverReadsDoesNotStallFrames)
{
	ChildProcess lazy;
	std::vector<std::string> argv = ClientCommand(sim, "noread");
	argv.insert(argv.end(), {"status", "2500"});
	ASSERT_TRUE(lazy.Start(argv, sim.ClientEnv()));
	while (lazy.Output().find("sent") == std::string::npos && !lazy.Wait(std::chrono::milliseconds(10))) {
	}
	const RunResult other = Ctl(sim, {"--timeout", "5", "ipd?"});
	EXPECT_EQ(other.exit_code, 0) << other.output;
	lazy.Wait(std::chrono::seconds(30));
	const SimResult result = sim.Stop();
	ASSERT_TRUE(result.trace.is_object()) << result.output;
	// A hang guard with a wide margin: a blocked reply would stall for seconds.
	EXPECT_LT(result.trace["frame_time_us"]["max"].get<double>(), 200000.0);
}

TEST_F(ControlChannel, ASecondDriverInstanceFailsCreationAndTheFirstKeepsServing)
{
	SimOptions second;
	second.args = {"--frames", "5"};
	second.env = sim.ClientEnv();
#if defined(_WIN32)
	const std::string line = "Pipe: Failed to create named pipe (error 231)\n";
#else
	const std::string line = "Pipe: Failed to create named pipe (error 98)\n";
#endif
	const SimResult run = RunSim(second);
	const auto log = run.Log();
	EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << run.output;
	EXPECT_EQ(std::find(log.begin(), log.end(), "Pipe: Destroyed\n"), log.end());
	const RunResult status = Ctl(sim, {"status"});
	EXPECT_EQ(status.exit_code, 0) << status.output;
}

TEST_F(ControlChannel, ZelvanCtlExitStatusesAndJson)
{
	struct Case {
		std::vector<std::string> args;
		int exit_code;
		const char *output_start;
	};
	const Case cases[] = {
		{{"status"}, 0, "proximity=false hid="},
		{{"proximity", "on"}, 0, "OK proximity=true source=manual"},
		{{"proximity", "auto"}, 0, "OK source=algorithm"},
		{{"ipd", "47"}, 1, "ERR ipd out of range (48-75mm)"},
		{{"send", "no such command"}, 1, "ERR unknown command"},
		{{"--json", "ipd?"}, 0, R"({"ipd":"unknown","message":"ipd=unknown","ok":true})"},
		{{"--json", "ipd", "40"}, 1, R"j({"message":"ipd out of range (48-75mm)","ok":false})j"},
		{{"--channel", "/nonexistent/zelvan_ctl", "status"}, 2, ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.args.back());
		const RunResult run = Ctl(sim, c.args);
		EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
		EXPECT_EQ(run.output.rfind(c.output_start, 0), 0u) << run.output;
	}
	const RunResult json = Ctl(sim, {"--json", "status"});
	const auto status = nlohmann::json::parse(json.output, nullptr, false);
	ASSERT_TRUE(status.is_object()) << json.output;
	EXPECT_EQ(status["proximity"], false);
	EXPECT_EQ(status["report_rate_ms"], 200);
	EXPECT_EQ(status["thresh"], 1500);
	EXPECT_EQ(status["hid"], "reconnecting");
	EXPECT_EQ(status["lh_config"], "not_loaded");
}

#if !defined(_WIN32)
TEST_F(ControlChannel, TheSocketIsTheUsersOnlyAndGoesAwayAtCleanup)
{
	struct stat info;
	ASSERT_EQ(stat(sim.ChannelPath().c_str(), &info), 0);
	EXPECT_TRUE(S_ISSOCK(info.st_mode));
	EXPECT_EQ(info.st_mode & 0777, 0600u);
	const RunResult socat = RunProgram({"sh", "-c", "printf status | socat -t 2 - UNIX-CONNECT:" + sim.ChannelPath() + ",type=5"});
	EXPECT_EQ(socat.output.rfind("proximity=false hid=", 0), 0u) << socat.output;
	const SimResult result = sim.Stop();
	EXPECT_EQ(result.Log().back(), "Pipe: Destroyed\n");
	EXPECT_NE(stat(sim.ChannelPath().c_str(), &info), 0);
}

TEST(ControlChannelStart, ASocketFileLeftByADeadProcessIsReplaced)
{
	ScratchDir dir;
	const std::string path = (dir.path() / "zelvan_proximity_ctl").string();
	const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
	sockaddr_un address{};
	address.sun_family = AF_UNIX;
	std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", path.c_str());
	ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
	close(fd); // never listened on, and nobody serves it any more
	const SimResult run = RunSim({.args = {"--frames", "3"}, .env = {{"XDG_RUNTIME_DIR", dir.path().string()}}});
	const auto log = run.Log();
	EXPECT_NE(std::find(log.begin(), log.end(), "Pipe: Created " + path + "\n"), log.end()) << run.output;
}
#endif

} // namespace
} // namespace zelvan::test
