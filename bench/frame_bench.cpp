// RunFrame on the runtime's thread: the steady state, the frame that serves a
// "status" command, its heap allocations, and how many frames a wearer's
// change takes to reach the runtime.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "bench/alloc_counter.h"
#include "bench/bench_rig.h"
#include "bench/benchmarks.h"
#include "control/abstract_socket_posix.h"
#include "control/control_channel.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace zelvan::bench {
namespace {

using Clock = std::chrono::steady_clock;

void ReportAllocations(benchmark::State &state, const AllocTally &tally, uint64_t frames)
{
	const double n = frames > 0 ? static_cast<double>(frames) : 1.0;
	state.counters["allocs_per_frame"] = static_cast<double>(tally.calls) / n;
	state.counters["alloc_bytes_per_frame"] = static_cast<double>(tally.bytes) / n;
}

// The frame of a running session with nobody talking to the channel; with
// `hold`, while a timed presence hold runs (one clock read a frame).
void BM_RunFrame_SteadyState(benchmark::State &state, bool quiet_settings, bool hold)
{
	RigOptions options;
	options.quiet_settings = quiet_settings;
	Rig rig(options);
	if (!rig.ready()) {
		state.SkipWithError(rig.error().c_str());
		return;
	}
	if (hold)
		rig.provider.presence.HoldManualPresence(true, std::chrono::hours(24));
	const AllocTally before = ThreadAllocations();
	for (auto _ : state)
		rig.provider.RunFrame();
	ReportAllocations(state, ThreadAllocations() - before, state.iterations());
	if (rig.provider.presence.last_presence != true)
		state.SkipWithError("the presence changed during the run");
}

// A client that connects, sends one message and waits for the reply.
class Client {
public:
	// `name` is the channel's "@name" form: an abstract socket name.
	explicit Client(const std::string &name)
	{
		fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
		AbstractAddress address;
		MakeAbstractAddress(name.substr(1), address);
		if (fd_ >= 0 && connect(fd_, address.get(), address.length) != 0) {
			close(fd_);
			fd_ = -1;
		}
		if (fd_ >= 0) {
			const timeval bound{1, 0};
			setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof(bound));
		}
	}
	~Client()
	{
		if (fd_ >= 0)
			close(fd_);
	}
	Client(const Client &) = delete;
	Client &operator=(const Client &) = delete;

	bool Send(const char *text) { return fd_ >= 0 && send(fd_, text, std::strlen(text), MSG_NOSIGNAL) > 0; }
	// The reply, or empty when none came within a second.
	std::string Receive()
	{
		char buffer[600];
		const ssize_t n = fd_ >= 0 ? recv(fd_, buffer, sizeof(buffer), 0) : -1;
		return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
	}

private:
	int fd_ = -1;
};

// Only the frame that accepts, reads, executes and answers is timed.
void BM_RunFrame_Serve(benchmark::State &state, const char *command, const char *reply_start)
{
	Rig rig;
	if (!rig.ready()) {
		state.SkipWithError(rig.error().c_str());
		return;
	}
	const std::string path = ChannelPath();
	AllocTally in_frames;
	for (auto _ : state) {
		Client client(path);
		if (!client.Send(command)) {
			state.SkipWithError("could not send to the channel");
			break;
		}
		const AllocTally before = ThreadAllocations();
		const auto start = Clock::now();
		rig.provider.RunFrame();
		const auto end = Clock::now();
		const AllocTally used = ThreadAllocations() - before;
		in_frames.calls += used.calls;
		in_frames.bytes += used.bytes;
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		if (client.Receive().rfind(reply_start, 0) != 0) {
			state.SkipWithError("the frame did not answer the command");
			break;
		}
	}
	ReportAllocations(state, in_frames, state.iterations());
}

// A connection of another user, which the driver refuses: made under that
// uid, so that the channel sees it as its peer. -1 when that cannot be done.
int ConnectAsOtherUser(const std::string &name)
{
	constexpr uid_t kOtherUid = 65534;
	const uid_t own = geteuid();
	if (own != 0 || seteuid(kOtherUid) != 0)
		return -1;
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	AbstractAddress address;
	if (fd >= 0 && (!MakeAbstractAddress(name.substr(1), address) || connect(fd, address.get(), address.length) != 0)) {
		close(fd);
		fd = -1;
	}
	if (seteuid(own) != 0)
		std::abort();
	return fd;
}

// The frame that finds `range(0)` refused connections queued (another user
// connecting in a loop) and closes as many as a frame does.
void BM_RunFrame_RefusedFlood(benchmark::State &state)
{
	Rig rig;
	if (!rig.ready()) {
		state.SkipWithError(rig.error().c_str());
		return;
	}
	const std::string path = ChannelPath();
	const auto queued = static_cast<size_t>(state.range(0));
	AllocTally in_frames;
	std::vector<int> fds;
	fds.reserve(queued);
	for (auto _ : state) {
		for (size_t i = 0; i < queued; ++i)
			fds.push_back(ConnectAsOtherUser(path));
		if (fds.empty() || fds.back() < 0) {
			state.SkipWithError("cannot connect as another user (needs root)");
			break;
		}
		const AllocTally before = ThreadAllocations();
		const auto start = Clock::now();
		rig.provider.RunFrame();
		const auto end = Clock::now();
		const AllocTally used = ThreadAllocations() - before;
		in_frames.calls += used.calls;
		in_frames.bytes += used.bytes;
		state.SetIterationTime(std::chrono::duration<double>(end - start).count());
		for (const int fd : fds)
			close(fd);
		fds.clear();
		// What a frame left queued is refused before the next iteration.
		for (int frame = 0; frame < 4; ++frame)
			rig.provider.RunFrame();
	}
	ReportAllocations(state, in_frames, state.iterations());
}

// Frames at 90 Hz from a level change of the sensor until the runtime's
// input component has the new value, on, then off again.
void BM_PresenceLatency(benchmark::State &state)
{
	RigOptions options;
	options.sensor = kIdleSensor;
	options.report_rate_ms = static_cast<int32_t>(state.range(0));
	options.moving_avg_length = static_cast<int32_t>(state.range(1));
	Rig rig(options);
	if (!rig.ready()) {
		state.SkipWithError(rig.error().c_str());
		return;
	}
	constexpr auto kFramePeriod = std::chrono::nanoseconds(1'000'000'000 / 90);
	constexpr int kFrameBound = 90 * 20;
	// The wearer's change lands 1/6, 3/6 or 5/6 of a sample period after the
	// sample that settled the average. Returns the frames from the change to
	// the one that sent the update, inclusive.
	const auto period = std::chrono::milliseconds(options.report_rate_ms);
	int64_t phase_step = 0;
	const auto frames_until = [&](unsigned level, bool present, double &ms) {
		const auto phase = period * (2 * (phase_step % 3) + 1) / 6;
		++phase_step;
		for (const auto end = Clock::now() + phase; Clock::now() < end;) {
			std::this_thread::sleep_for(kFramePeriod);
			rig.provider.RunFrame();
		}
		const size_t from = rig.runtime.input.boolean_updates.size();
		const auto start = Clock::now();
		zelvan_sim_sensor_set_level(level);
		for (int frame = 1; frame <= kFrameBound; ++frame) {
			std::this_thread::sleep_until(start + frame * kFramePeriod);
			rig.provider.RunFrame();
			if (rig.SawPresence(present, from)) {
				ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
				return frame;
			}
		}
		return -1;
	};
	// Each change starts from a settled average: the headset has lain on the
	// desk, or been worn, for a whole window.
	const auto settle = [&](uint32_t level) {
		const auto deadline = Clock::now() + std::chrono::seconds(20);
		while (rig.provider.reader->GetSnapshot().averaged_prox != level && Clock::now() < deadline) {
			std::this_thread::sleep_for(kFramePeriod);
			rig.provider.RunFrame();
		}
		return rig.provider.reader->GetSnapshot().averaged_prox == level;
	};
	double on_frames = 0, on_ms = 0, off_frames = 0, off_ms = 0, worst_on = 0, worst_off = 0;
	for (auto _ : state) {
		const bool idle = settle(300);
		double ms = 0;
		const int on = frames_until(2400, true, ms);
		on_frames += on;
		on_ms += ms;
		worst_on = std::max(worst_on, static_cast<double>(on));
		// The time column is the way on.
		state.SetIterationTime(ms / 1000.0);
		const bool worn = settle(2400);
		const int off = frames_until(300, false, ms);
		off_frames += off;
		off_ms += ms;
		worst_off = std::max(worst_off, static_cast<double>(off));
		if (!idle || !worn || on < 0 || off < 0) {
			state.SkipWithError("the presence never reached the runtime");
			break;
		}
	}
	const double n = static_cast<double>(state.iterations());
	state.counters["frames_to_on"] = on_frames / n;
	state.counters["ms_to_on"] = on_ms / n;
	state.counters["worst_frames_to_on"] = worst_on;
	state.counters["frames_to_off"] = off_frames / n;
	state.counters["ms_to_off"] = off_ms / n;
	state.counters["worst_frames_to_off"] = worst_off;
}

// The channel's share of an idle frame: one accept that finds nobody.
void BM_PollControlChannel_Idle(benchmark::State &state)
{
	unsigned long error = 0;
	PipeHandle pipe = CreateControlChannel(error);
	if (pipe == kInvalidPipe) {
		state.SkipWithError("the control channel is not listening");
		return;
	}
	bool connected = false;
	PipeClient client;
	char buffer[512];
	for (auto _ : state)
		benchmark::DoNotOptimize(PollControlChannel(pipe, connected, client, buffer));
	DestroyControlChannel(pipe, connected, client);
}

} // namespace

void RegisterFrameBenchmarks()
{
	benchmark::RegisterBenchmark("BM_RunFrame_SteadyState", BM_RunFrame_SteadyState, true, false);
	benchmark::RegisterBenchmark("BM_RunFrame_HoldRunning", BM_RunFrame_SteadyState, true, true);
	// The same frames against the stock fake settings: what the fake itself allocates.
	benchmark::RegisterBenchmark("BM_RunFrame_SteadyState_StockFakeSettings", BM_RunFrame_SteadyState, false, false)
		->Iterations(20000);
	benchmark::RegisterBenchmark("BM_PollControlChannel_Idle", BM_PollControlChannel_Idle);
	benchmark::RegisterBenchmark("BM_RunFrame_ServeStatus", BM_RunFrame_Serve, "status", "proximity=true hid=open")
		->UseManualTime();
	// The recent readings from the oldest kept: the fullest reply.
	benchmark::RegisterBenchmark("BM_RunFrame_ServeSamples", BM_RunFrame_Serve, "samples 0", "OK next=")->UseManualTime();
	// Refused connections queued at the frame: one, a frame's worth, and more.
	benchmark::RegisterBenchmark("BM_RunFrame_RefusedFlood", BM_RunFrame_RefusedFlood)
		->ArgName("queued")
		->Arg(1)
		->Arg(8)
		->Arg(16)
		->UseManualTime();
	// {report_rate_ms, moving_avg_length}: the defaults, and the fastest settings.
	benchmark::RegisterBenchmark("BM_PresenceLatency", BM_PresenceLatency)
		->ArgNames({"rate_ms", "window"})
		->Args({200, 8})
		->Args({50, 1})
		->Iterations(3)
		->UseManualTime()
		->Unit(benchmark::kMillisecond);
}

} // namespace zelvan::bench
