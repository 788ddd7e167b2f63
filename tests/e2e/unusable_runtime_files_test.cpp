// Runtime files the driver must not use: paths that are no regular file or
// are too big, and calibrations whose numbers are no rotation. Each is
// refused with its usual failure line, without holding a frame, and nothing
// of it reaches the runtime.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "tests/support/calibration_file.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_files.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

namespace fs = std::filesystem;

// Frames of 11 ms are the runtime's pace; this leaves room for a loaded
// test machine while a read that waits on a writer still fails.
constexpr double kLongestFrameUs = 250000;

bool HasLine(const std::vector<std::string> &log, const std::string &prefix, const std::string &suffix)
{
	return std::any_of(log.begin(), log.end(), [&](const std::string &line) {
		return line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + suffix.size() &&
		       line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
	});
}

std::string Ctl(RunningSim &sim, const std::string &command)
{
	return RunProgram({BinPath(std::string("zelvan-ctl") + kExeSuffix), "send", command}, sim.ClientEnv()).output;
}

// Something that is not a readable regular file, put where a runtime file
// would be. `make` replaces what is at the path and returns false when the
// kind cannot sit at an arbitrary path on this platform.
struct Kind {
	const char *name;
	bool (*make)(const std::string &path);
	std::string command_path; // what load_lh_config is given when not the made path
};

bool MakeDirectory(const std::string &path)
{
	fs::remove(path);
	return fs::create_directories(path);
}

// A file that would parse, grown past the 1 MiB the driver reads.
bool MakeBig(const std::string &path)
{
	std::ofstream(path, std::ios::binary | std::ios::app) << std::string(2u << 20, ' ');
	return true;
}

#if !defined(_WIN32)
bool MakeFifo(const std::string &path)
{
	fs::remove(path);
	return mkfifo(path.c_str(), 0600) == 0;
}

bool MakeDevice(const std::string &path)
{
	fs::remove(path);
	return symlink("/dev/zero", path.c_str()) == 0;
}

const Kind kKinds[] = {
	{"fifo", MakeFifo, ""},
	{"directory", MakeDirectory, ""},
	{"device", MakeDevice, ""},
	{"file over 1 MiB", MakeBig, ""},
};
#else
bool CannotPlace(const std::string &)
{
	return false;
}

const Kind kKinds[] = {
	{"directory", MakeDirectory, ""},
	{"device", CannotPlace, "NUL"},
	{"file over 1 MiB", MakeBig, ""},
};
#endif

void ExpectQuickCleanRun(const SimResult &run)
{
	EXPECT_EQ(run.exit_code, 0) << run.output;
	ASSERT_FALSE(run.trace.is_null());
	EXPECT_LT(run.trace["frame_time_us"]["max"].get<double>(), kLongestFrameUs);
	EXPECT_TRUE(run.Calls("SetDisplayEyeToHead").empty());
}

TEST(UnusableRuntimeFiles, APathThatIsNoRegularFileFailsToOpenWithoutHoldingAFrame)
{
	for (const Kind &kind : kKinds) {
		SCOPED_TRACE(kind.name);
		{
			// The path registry, and the explicit load command.
			IpdRun ipd;
			const std::string registry = (ipd.files_dir.path() / "user" / "openvr" / "openvrpaths.vrpath").string();
			ASSERT_TRUE(kind.make(registry) || !kind.command_path.empty());
			const std::string command_path = kind.command_path.empty() ? ipd.files_dir.File("other.json") : kind.command_path;
			if (kind.command_path.empty())
				ASSERT_TRUE(kind.make(command_path));
			RunningSim sim(ipd.Options());
			ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
			EXPECT_EQ(Ctl(sim, "load_lh_config " + command_path),
			          "ERR failed to read config: file not found or parse error\n");
			if (kind.command_path.empty())
				EXPECT_EQ(Ctl(sim, "ipd 64"), "ERR lh_config not loaded\n");
			const SimResult run = sim.Stop();
			ExpectQuickCleanRun(run);
			const auto log = run.Log();
			EXPECT_TRUE(HasLine(log, "IPD: Failed to open config file: " + command_path, "\n")) << ::testing::PrintToString(log);
			if (kind.command_path.empty())
				EXPECT_TRUE(HasLine(log, "IPD: Failed to open ", "openvrpaths.vrpath\n")) << ::testing::PrintToString(log);
		}
		IpdRun ipd;
		if (!kind.make(ipd.calibration))
			continue;
		// The headset's calibration, at Init and on the first IPD change.
		const SimResult run = RunSim(ipd.Options({"--frames", "20", "--scenario", ipd.Scenario("5 ipd_event 0.064\n")}));
		ExpectQuickCleanRun(run);
		EXPECT_TRUE(HasLine(run.Log(), "IPD: Failed to open config file: ", "config.json\n")) << ::testing::PrintToString(run.Log());
	}
}

TEST(UnusableRuntimeFiles, ACalibrationThatIsNoPairOfRotationsIsRefused)
{
	const Matrix34 left = YawTransform(5, -0.032);
	const Matrix34 right = YawTransform(-5, 0.032);
	const auto changed = [](Matrix34 m, int r, int c, double value) {
		m[r][c] = value;
		return m;
	};
	Matrix34 scaled = left;
	for (auto &row : scaled)
		for (size_t c = 0; c < 3; ++c)
			row[c] *= 1.01;
	struct Case {
		const char *name;
		Matrix34 first, second;
		const char *failure;
	};
	const Case cases[] = {
		{"nan in the first eye", changed(left, 0, 0, std::numeric_limits<double>::quiet_NaN()), right, "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"infinity in the second eye", left, changed(right, 2, 2, -std::numeric_limits<double>::infinity()), "IPD: Failed to parse eye_to_head[1] matrix\n"},
		{"beyond a float", changed(left, 1, 1, 1e39), right, "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"scaled", scaled, right, "IPD: Failed to parse eye_to_head[0] matrix\n"},
		{"sheared", left, changed(right, 0, 1, 0.2), "IPD: Failed to parse eye_to_head[1] matrix\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		IpdRun ipd(true, c.first, c.second);
		const SimResult run = RunSim(ipd.Options({"--frames", "20", "--scenario", ipd.Scenario("5 ipd_event 0.064\n")}));
		EXPECT_EQ(run.exit_code, 0) << run.output;
		const auto log = run.Log();
		EXPECT_NE(std::find(log.begin(), log.end(), c.failure), log.end()) << ::testing::PrintToString(log);
		EXPECT_FALSE(HasLine(log, "IPD: Lighthouse config loaded successfully", "\n"));
		EXPECT_TRUE(run.Calls("SetDisplayEyeToHead").empty());
	}
}

} // namespace
} // namespace zelvan::test
