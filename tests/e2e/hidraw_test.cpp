// The installed Linux driver folder in the host simulator, talking through its
// bundled libhidapi-hidraw.so.0 and the real libudev to the emulated hidraw
// node (run under scripts/with-hidraw.sh, which names the sensor's
// configuration file in ZELVAN_HIDRAW_SENSOR). What the simulated-library
// tests already prove is not repeated: these cases are about what the real
// library and the kernel's file semantics make of each situation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <chrono>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kFolder = ZELVAN_INSTALLED_FOLDER;
const std::string kBin = kFolder + "/bin/linux64/";
const char *const kFastSettings = R"({"driver_ZelvanProximity": {"report_rate_ms": 50, "moving_avg_length": 2}})";
const std::string kPresenceOn = "Proximity: person_detected changed to true";
const std::string kPresenceOff = "Proximity: person_detected changed to false";

// Replaces the emulated sensor's configuration whole; the emulator reads it
// again at its next look.
void ConfigureSensor(const std::string &text)
{
	const char *path = std::getenv("ZELVAN_HIDRAW_SENSOR");
	ASSERT_NE(path, nullptr) << "run under scripts/with-hidraw.sh";
	const std::string partial = std::string(path) + ".new";
	std::ofstream(partial, std::ios::binary) << text;
	fs::rename(partial, path);
	std::this_thread::sleep_for(100ms); // the emulator looks every 10 ms
}

size_t CountPrefix(const std::vector<std::string> &log, const std::string &prefix)
{
	return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string &l) { return l.rfind(prefix, 0) == 0; }));
}

// The hidapi files mapped into the process whose command line names `marker`.
std::set<std::string> LoadedHidapi(const std::string &marker)
{
	std::set<std::string> files;
	for (const fs::directory_entry &entry : fs::directory_iterator("/proc")) {
		std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
		std::stringstream text;
		text << cmdline.rdbuf();
		if (text.str().find(marker) == std::string::npos || text.str().find("zelvan-host-sim") == std::string::npos)
			continue;
		std::ifstream maps(entry.path() / "maps");
		std::string line;
		while (std::getline(maps, line)) {
			const size_t slash = line.find('/');
			if (slash != std::string::npos && line.find("hidapi", slash) != std::string::npos)
				files.insert(line.substr(slash));
		}
	}
	return files;
}

struct Case {
	const char *name;
	const char *sensor;
	std::chrono::milliseconds run;
	std::function<void(RunningSim &)> during; // while it runs, besides waiting
	std::vector<std::string> lines;           // logged, in this order (prefixes)
	std::function<void(const SimResult &)> check;
};

std::vector<bool> PresenceUpdates(const SimResult &run)
{
	std::vector<bool> values;
	for (const auto &call : run.Calls("UpdateBooleanComponent"))
		values.push_back(call["value"].get<bool>());
	return values;
}

std::string Doctor(const RunningSim &sim)
{
	return RunProgram({kBin + "zelvan-ctl", "doctor"}, sim.ClientEnv(), 60s).output;
}

TEST(HidrawNode, TheBundledHidapiTalksToTheSensor)
{
	std::string doctor;
	const Case cases[] = {
		{"calibration, rate, samples, presence both ways",
		 "cal 1234\nthresh 1500\nhyst 100\ntrim -200\nlevel 0 300\nlevel 1000 2400\nlevel 2500 300\n", 4000ms, nullptr,
		 {"HID: Device opened/reconnected", "HID: Calibration: cal=1234 thresh=1500 hyst=100 trim=-200",
		  "HID: Report rate set to 50ms", kPresenceOn, kPresenceOff},
		 [](const SimResult &run) { EXPECT_EQ(PresenceUpdates(run), (std::vector<bool>{true, false})); }},
		{"unplug and replug", "level 0 2400\nunplug 1500 1000\n", 9000ms, nullptr,
		 {"HID: Report rate set to 50ms", kPresenceOn, "HID: Device disconnected", "HID: Device opened/reconnected",
		  "HID: Report rate set to 50ms", kPresenceOn},
		 [](const SimResult &run) {
			 EXPECT_EQ(PresenceUpdates(run).back(), true);
			 EXPECT_EQ(CountPrefix(run.Log(), "HID: Cannot open the sensor"), 0u) << "an unplugged sensor is absent, not refused";
		 }},
		{"reads fail: the back-off holds", "fail_reads yes\n", 4500ms, nullptr,
		 {"HID: Device opened/reconnected", "HID: Device disconnected", "HID: Device opened/reconnected"},
		 [](const SimResult &run) {
			 // Pauses of 1 s and 2 s: at most three sessions in 4.5 s.
			 EXPECT_LE(CountPrefix(run.Log(), "HID: Device opened/reconnected"), 3u);
		 }},
		{"permission denied: the reason once, the doctor's remedy", "refuse_open yes\n", 6500ms,
		 [&](RunningSim &sim) { doctor = Doctor(sim); },
		 {"HID: Cannot open the sensor: Failed to open a device with path '/dev/hidraw0': Permission denied"},
		 [&](const SimResult &run) {
			 EXPECT_EQ(CountPrefix(run.Log(), "HID: Cannot open the sensor"), 1u) << "two attempts, one line";
			 EXPECT_EQ(CountPrefix(run.Log(), "HID: Device opened"), 0u);
			 EXPECT_NE(doctor.find("FAIL  sensor           /dev/hidraw0 cannot be opened for reading and writing by this user"),
			           std::string::npos)
			         << doctor;
			 EXPECT_NE(doctor.find("install.sh --udev"), std::string::npos) << doctor;
		 }},
		{"short sample reports and block replies that lie about their length",
		 "thresh 1234\nblock_reply 14 short=3\nblock_reply 15 length=40\nshort_samples yes\nlevel 0 2400\n", 2500ms, nullptr,
		 {"HID: Calibration: cal=0 thresh=1234 hyst=100 trim=0", "HID: Report rate set to 50ms"},
		 [](const SimResult &run) { EXPECT_EQ(CountPrefix(run.Log(), "Proximity: person_detected"), 0u); }},
		{"the rate command stalls once after a replug", "level 0 2400\nstall_after_plug yes\nunplug 1500 500\n", 14000ms,
		 nullptr,
		 {"HID: Report rate set to 50ms", "HID: Device disconnected", "HID: Device opened/reconnected",
		  "HID: Failed to send feature report cmd=0x52: ioctl (SFEATURE): Broken pipe", "HID: Report rate set to 50ms",
		  kPresenceOn},
		 [](const SimResult &run) { EXPECT_EQ(PresenceUpdates(run).back(), true); }},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		ConfigureSensor(c.sensor);
		RunningSim sim({.settings_json = kFastSettings, .library = kBin + "driver_ZelvanProximity.so"});
		ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
		const std::set<std::string> loaded = LoadedHidapi(sim.scratch().path().string());
		EXPECT_EQ(loaded, std::set<std::string>{fs::canonical(kBin + "libhidapi-hidraw.so.0").string()});
		const auto start = std::chrono::steady_clock::now();
		if (c.during)
			c.during(sim);
		// Until the last expected line (a hang guard), and at least `run`.
		const auto deadline = start + c.run + 20s;
		while (std::chrono::steady_clock::now() < deadline && sim.Output().find("] " + c.lines.back()) == std::string::npos)
			std::this_thread::sleep_for(20ms);
		std::this_thread::sleep_until(std::max(std::chrono::steady_clock::now(), start + c.run));
		const SimResult run = sim.Stop();
		ASSERT_EQ(run.exit_code, 0) << run.output;
		const std::vector<std::string> log = run.Log();
		auto at = log.begin();
		for (const std::string &line : c.lines) {
			at = std::find_if(at, log.end(), [&](const std::string &l) { return l.rfind(line, 0) == 0; });
			ASSERT_NE(at, log.end()) << "missing, in order: " << line << "\n" << run.output;
			++at;
		}
		if (c.check)
			c.check(run);
	}
}

} // namespace
} // namespace zelvan::test
