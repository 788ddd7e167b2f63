// The control channel of the driver running in the host simulator, spoken to
// by clients that share no code with it (Python's socket module on POSIX, a
// raw pipe client on Windows) and by zelvan-ctl.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "control/abstract_socket_posix.h"
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
		{"proximity off for 2\\x00h", "ERR usage: proximity on|off for DURATION"},
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

TEST_F(ControlChannel, AClientThatSendsNothingIsDroppedAfterTwoSeconds)
{
	ChildProcess silent;
	std::vector<std::string> argv = ClientCommand(sim, "silent");
	argv.push_back("20000");
	ASSERT_TRUE(silent.Start(argv, sim.ClientEnv()));
	while (silent.Output().find("connected") == std::string::npos && !silent.Wait(std::chrono::milliseconds(10))) {
	}
	// The next client waits for the silent one at most the idle bound.
	const RunResult after = Ctl(sim, {"--timeout", "10", "status"});
	EXPECT_EQ(after.exit_code, 0) << after.output;
	ASSERT_TRUE(silent.Wait(std::chrono::seconds(30)));
	const std::string out = silent.Output();
	const size_t at = out.find("dropped after ");
	ASSERT_NE(at, std::string::npos) << out;
	// Held for the bound, not dropped at once; the upper limit guards a hang.
	const long held_ms = std::atol(out.c_str() + at + 14);
	EXPECT_GE(held_ms, 1500) << out;
	EXPECT_LT(held_ms, 15000) << out;
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
		{{"proximity", "off", "--for", "90m"}, 0, "OK proximity=false source=manual hold_left_s=5400"},
		{{"proximity", "--for", "25h", "on"}, 1, "ERR proximity hold out of range (1s to 24h)"},
		{{"proximity", "on", "--for", "2h", "--persist"}, 64, ""},
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

// Holds a channel name the way another process would: an instance that never
// serves anyone.
class NameHolder {
public:
	explicit NameHolder(const std::string &name)
	{
#if defined(_WIN32)
		handle_ = CreateNamedPipeA(("\\\\.\\pipe\\" + name).c_str(), PIPE_ACCESS_DUPLEX,
		                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT, 1, 512, 512, 0, nullptr);
#else
		fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
		AbstractAddress address;
		MakeAbstractAddress(name, address);
		bind(fd_, address.get(), address.length);
		listen(fd_, 1);
#endif
	}
	~NameHolder()
	{
#if defined(_WIN32)
		CloseHandle(handle_);
#else
		close(fd_);
#endif
	}

private:
#if defined(_WIN32)
	HANDLE handle_;
#else
	int fd_;
#endif
};

// Milliseconds since midnight of a --log line ("YYYY-MM-DD HH:MM:SS.mmm - ...").
long LogTimeMs(const std::string &line)
{
	int h = 0, m = 0, sec = 0, ms = 0;
	std::sscanf(line.c_str(), "%*d-%*d-%*d %d:%d:%d.%d", &h, &m, &sec, &ms);
	return ((h * 60L + m) * 60L + sec) * 1000L + ms;
}

TEST(ControlChannelStart, ANameInUseNeitherHoldsInitNorStaysLost)
{
	const ScratchDir scratch;
	const std::string name = scratch.path().filename().string();
	auto holder = std::make_unique<NameHolder>(name);
	RunningSim sim({.args = {"--log", scratch.File("driver.log")}, .env = {{"ZELVAN_TEST_CHANNEL", name}}});
	ASSERT_TRUE(sim.WaitForLine("Zelvan Proximity driver initialized successfully")) << sim.Output();
	holder.reset();
	ASSERT_TRUE(sim.WaitForLine("Pipe: Created " + sim.ChannelPath())) << sim.Output();
	const RunResult status = Ctl(sim, {"--timeout", "5", "status"});
	EXPECT_EQ(status.exit_code, 0) << status.output;
	const SimResult result = sim.Stop();
	const auto log = result.Log();
#if defined(_WIN32)
	const std::string failed = "Pipe: Failed to create named pipe (error 231)\n";
#else
	const std::string failed = "Pipe: Failed to create named pipe (error 98)\n";
#endif
	// One line for the outcome, not one per try.
	EXPECT_EQ(std::count(log.begin(), log.end(), failed), 1) << result.output;

	std::ifstream file(scratch.File("driver.log"));
	long init_start = -1, init_end = -1;
	for (std::string line; std::getline(file, line);) {
		if (line.find("driver initializing") != std::string::npos)
			init_start = LogTimeMs(line);
		if (line.find("driver initialized successfully") != std::string::npos)
			init_end = LogTimeMs(line);
	}
	ASSERT_GE(init_start, 0);
	EXPECT_LT(init_end - init_start, 1000);
}

#if !defined(_WIN32)
// A stand-in server in a child process, optionally of another user, that
// answers one message with `reply`.
pid_t StartServer(const std::string &name, const std::string &reply, uid_t uid)
{
	int ready[2];
	if (pipe(ready) != 0)
		return -1;
	const pid_t pid = fork();
	if (pid == 0) {
		if (uid != geteuid() && (setresgid(uid, uid, uid) != 0 || setresuid(uid, uid, uid) != 0))
			_exit(3);
		const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
		AbstractAddress address;
		if (!MakeAbstractAddress(name, address) || bind(fd, address.get(), address.length) != 0 || listen(fd, 1) != 0)
			_exit(4);
		(void)!write(ready[1], "r", 1);
		const int client = accept(fd, nullptr, nullptr);
		char buffer[600];
		if (client >= 0 && recv(client, buffer, sizeof(buffer), 0) > 0)
			send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
		_exit(0);
	}
	close(ready[1]);
	char byte = 0;
	(void)!read(ready[0], &byte, 1);
	close(ready[0]);
	return byte == 'r' ? pid : -1;
}

TEST(ZelvanCtl, ShowsControlBytesEscapedAndTalksOnlyToItsOwnUser)
{
	struct Case {
		const char *what;
		uid_t uid;
		std::string reply;
		int exit_code;
		std::string output;
	};
	const Case cases[] = {
		{"control bytes", geteuid(), "OK \x1b[2J\x07" "bell\xc2\x9b", 0, "OK \\x1B[2J\\x07bell\\xC2\\x9B\n"},
		// 0x9B alone is CSI to a terminal that reads Latin-1; a no-break space is text.
		{"8-bit CSI", geteuid(), "OK \x9b" "2J\xc2\xa0", 0, "OK \\x9B2J\xc2\xa0\n"},
		{"another user's server", 65534, "OK ipd=64.0mm", 2, "held by uid 65534"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.what);
		if (c.uid != geteuid() && geteuid() != 0) {
			std::printf("skipped \"%s\": needs root to start a server of another uid\n", c.what);
			continue;
		}
		const std::string name = ScratchDir().path().filename().string();
		const pid_t server = StartServer(name, c.reply, c.uid);
		ASSERT_GT(server, 0);
		const RunResult run = RunProgram({BinPath("zelvan-ctl"), "--channel", "@" + name, "ipd?"}, {}, std::chrono::seconds(30));
		kill(server, SIGKILL);
		waitpid(server, nullptr, 0);
		EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
		EXPECT_NE(run.output.find(c.output), std::string::npos) << run.output;
		EXPECT_EQ(run.output.find("OK ipd="), std::string::npos) << run.output;
	}
}
#endif

} // namespace
} // namespace zelvan::test
