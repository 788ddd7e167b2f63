// How long shutdown holds the runtime's thread: HidReader::Stop from each
// state of the reader, and the IPD persistence of Cleanup against a console
// tool that works, is slow, hangs or will not exit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/bench_rig.h"
#include "bench/benchmarks.h"
#include "core/driver_log.h"
#include "driver/device_provider.h"
#include "ipd/ipd_persistence.h"
#include "sensor/hid_reader.h"
#include "sensor/sensor_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/runtime_files.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace zelvan::bench {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
	return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string SensorEvents()
{
	std::string text(zelvan_sim_sensor_events(nullptr, 0), '\0');
	zelvan_sim_sensor_events(text.data(), text.size() + 1);
	return text;
}

template <typename F> bool WaitUntil(F condition, std::chrono::milliseconds bound = std::chrono::seconds(15))
{
	const auto deadline = Clock::now() + bound;
	while (Clock::now() < deadline) {
		if (condition())
			return true;
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return false;
}

struct ReaderState {
	const char *config;
	const char *reached_when; // an event in the sensor's log
	int samples;              // and at least this many samples
};

// Stop is timed once the reader thread sits where the state puts it.
void BM_HidReaderStop(benchmark::State &state, ReaderState reader_state)
{
	test::FakeDriverLog log;
	AttachDriverLog(&log);
	double worst = 0;
	int round = 0;
	for (auto _ : state) {
		state.PauseTiming();
		zelvan_sim_sensor_configure(reader_state.config);
		auto reader = std::make_unique<HidReader>(8, false);
		reader->Start(kSensorVendorId, kSensorProductId, 200);
		const bool reached = WaitUntil([&] {
			return SensorEvents().find(reader_state.reached_when) != std::string::npos &&
			       reader->GetSnapshot().samples >= static_cast<uint32_t>(reader_state.samples);
		});
		// Stop comes at a different point of the thread's wait each time.
		std::this_thread::sleep_for(std::chrono::milliseconds(10 + 60 * (round++ % 3)));
		state.ResumeTiming();
		const auto start = Clock::now();
		reader->Stop();
		worst = std::max(worst, MsSince(start));
		state.PauseTiming();
		reader.reset();
		log.Clear();
		state.ResumeTiming();
		if (!reached) {
			state.SkipWithError("the reader never reached the state");
			break;
		}
	}
	state.counters["worst_ms"] = worst;
	zelvan_sim_sensor_configure(nullptr);
	DetachDriverLog();
}

// The runtime's files with the console tool in place and one headset known
// to it; the environment points the driver and the tool there.
class ConsoleWorld {
public:
	explicit ConsoleWorld(const char *fault)
	{
		files_ = test::LayOutRuntime(scratch_);
		namespace fs = std::filesystem;
		const fs::path bin = fs::path(files_.runtime_dir) / "tools" / "lighthouse" / "bin" / "linux64";
		fs::create_directories(bin);
		const fs::path tool = bin / "lighthouse_console";
#if defined(ZELVAN_CONSOLE_STANDIN)
		fs::create_symlink(ZELVAN_CONSOLE_STANDIN, tool);
		const std::string store = scratch_.File("store");
		ok_ = test::RunProgram({ZELVAN_CONSOLE_STANDIN, "--init-store", store, "LHR-1"}).exit_code == 0;
		setenv("ZELVAN_LH_STORE", store.c_str(), 1);
		setenv("ZELVAN_LH_FAULT", fault, 1);
#else
		// Without the stand-in, a tool that never answers stands for every fault.
		(void)fault;
		scratch_.Write("hang.sh", "#!/bin/sh\nexec sleep 600\n");
		fs::copy_file(scratch_.File("hang.sh"), tool);
		fs::permissions(tool, fs::perms::owner_all);
		ok_ = true;
#endif
		for (const auto &[name, value] : files_.env) {
			const char *previous = std::getenv(name.c_str());
			saved_.emplace_back(name, previous != nullptr ? std::optional<std::string>(previous) : std::nullopt);
			setenv(name.c_str(), value.c_str(), 1);
		}
	}
	~ConsoleWorld()
	{
		unsetenv("ZELVAN_LH_FAULT");
		unsetenv("ZELVAN_LH_STORE");
		for (const auto &[name, value] : saved_) {
			if (value)
				setenv(name.c_str(), value->c_str(), 1);
			else
				unsetenv(name.c_str());
		}
	}
	bool ok() const { return ok_; }

private:
	test::ScratchDir scratch_;
	test::RuntimeFiles files_;
	std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
	bool ok_ = false;
};

struct ConsoleCase {
	const char *fault;        // ZELVAN_LH_FAULT
	const char *last_line;    // what the persistence logs last
};

bool Logged(test::FakeDriverLog &log, const char *line)
{
	const auto lines = log.Lines();
	return std::find(lines.begin(), lines.end(), std::string(line)) != lines.end();
}

// PersistIpdToHeadset on its own, for a provider whose IPD moved during the run.
void BM_PersistIpd(benchmark::State &state, ConsoleCase c)
{
	test::FakeDriverLog log;
	AttachDriverLog(&log);
	double worst = 0;
	for (auto _ : state) {
		state.PauseTiming();
		log.Clear();
		auto world = std::make_unique<ConsoleWorld>(c.fault);
		DeviceProvider provider;
		provider.ipd.initial_ipd_m = 0.0635f;
		provider.ipd.current_ipd_m = 0.064f;
		provider.ipd.config_serial = "LHR-1";
		state.ResumeTiming();
		const auto start = Clock::now();
		PersistIpdToHeadset(provider.ipd);
		worst = std::max(worst, MsSince(start));
		state.PauseTiming();
		const bool ok = world->ok() && Logged(log, c.last_line);
		world.reset();
		state.ResumeTiming();
		if (!ok) {
			state.SkipWithError(("the run did not end with: " + std::string(c.last_line)).c_str());
			break;
		}
	}
	state.counters["worst_ms"] = worst;
	DetachDriverLog();
}

// The whole of Cleanup for a streaming provider whose IPD moved, with a
// console tool that misbehaves.
void BM_Cleanup(benchmark::State &state, ConsoleCase c)
{
	double worst = 0;
	for (auto _ : state) {
		state.PauseTiming();
		auto world = std::make_unique<ConsoleWorld>(c.fault);
		auto rig = std::make_unique<Rig>();
		const bool ready = world->ok() && rig->ready();
		rig->provider.ipd.initial_ipd_m = 0.0635f;
		rig->provider.ipd.current_ipd_m = 0.064f;
		rig->provider.ipd.config_serial = "LHR-1";
		state.ResumeTiming();
		const auto start = Clock::now();
		if (ready)
			rig->Cleanup();
		worst = std::max(worst, MsSince(start));
		state.PauseTiming();
		const bool ended = Logged(rig->runtime.log, c.last_line);
		rig.reset();
		world.reset();
		state.ResumeTiming();
		if (!ready || !ended) {
			state.SkipWithError(ready ? ("the run did not end with: " + std::string(c.last_line)).c_str()
			                          : "the rig did not start");
			break;
		}
	}
	state.counters["worst_ms"] = worst;
}

} // namespace

void RegisterShutdownBenchmarks()
{
	const auto slow = [](benchmark::internal::Benchmark *b, int iterations) {
		b->Iterations(iterations)->UseRealTime()->Unit(benchmark::kMillisecond);
	};
	slow(benchmark::RegisterBenchmark("BM_HidReaderStop/reconnecting", BM_HidReaderStop,
	                                  ReaderState{"present no\n", "open failed", 0}),
	     3);
	slow(benchmark::RegisterBenchmark("BM_HidReaderStop/pausing_after_failure", BM_HidReaderStop,
	                                  ReaderState{"fail_reads yes\nfail_features yes\n", "close", 0}),
	     3);
	slow(benchmark::RegisterBenchmark("BM_HidReaderStop/streaming", BM_HidReaderStop,
	                                  ReaderState{"level 0 300\n", "reply $", 2}),
	     3);
	slow(benchmark::RegisterBenchmark("BM_HidReaderStop/signature_read", BM_HidReaderStop,
	                                  ReaderState{"block_reply all none\n", "noreply U 0", 0}),
	     3);
	slow(benchmark::RegisterBenchmark("BM_HidReaderStop/sensor_silent", BM_HidReaderStop,
	                                  ReaderState{"silent 0 100000\n", "reply $", 0}),
	     3);

#if defined(ZELVAN_CONSOLE_STANDIN)
	slow(benchmark::RegisterBenchmark("BM_PersistIpd/console=works", BM_PersistIpd,
	                                  ConsoleCase{"", "IPD Persist: Successfully wrote 64.0mm to headset config\n"}),
	     3);
	slow(benchmark::RegisterBenchmark("BM_PersistIpd/console=slow", BM_PersistIpd,
	                                  ConsoleCase{"slow", "IPD Persist: Successfully wrote 64.0mm to headset config\n"}),
	     1);
	slow(benchmark::RegisterBenchmark("BM_PersistIpd/console=ignore_exit", BM_PersistIpd,
	                                  ConsoleCase{"ignore_exit", "IPD Persist: Successfully wrote 64.0mm to headset config\n"}),
	     1);
#endif
	slow(benchmark::RegisterBenchmark(
		     "BM_PersistIpd/console=hang", BM_PersistIpd,
		     ConsoleCase{"hang", "IPD Persist: WARNING -- lighthouse_console printed nothing in 10 s, terminating\n"}),
	     1);
	slow(benchmark::RegisterBenchmark(
		     "BM_Cleanup/console=hang", BM_Cleanup,
		     ConsoleCase{"hang", "IPD Persist: WARNING -- lighthouse_console printed nothing in 10 s, terminating\n"}),
	     1);
#if defined(ZELVAN_CONSOLE_STANDIN)
	slow(benchmark::RegisterBenchmark("BM_Cleanup/console=slow", BM_Cleanup,
	                                  ConsoleCase{"slow", "IPD Persist: Successfully wrote 64.0mm to headset config\n"}),
	     1);
	slow(benchmark::RegisterBenchmark("BM_Cleanup/console=late", BM_Cleanup,
	                                  ConsoleCase{"late", "IPD Persist: Out of time, not uploading\n"}),
	     1);
#endif
}

} // namespace zelvan::bench
