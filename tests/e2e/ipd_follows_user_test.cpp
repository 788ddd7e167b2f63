// IPD management end to end: runtime events, the ipd_mm slider and control
// commands moving the HMD's eye-to-head transforms, read from the trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/support/calibration_file.h"
#include "tests/support/child_process.h"
#include "tests/support/runtime_files.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

using namespace std::chrono_literals;

bool Has(const std::vector<std::string> &log, const std::string &line)
{
	return std::find(log.begin(), log.end(), line) != log.end();
}

std::string Ctl(RunningSim &sim, const std::string &command)
{
	return RunProgram({BinPath(std::string("zelvan-ctl") + kExeSuffix), "send", command}, sim.ClientEnv()).output;
}

double X(const nlohmann::json &matrix)
{
	return matrix[0][3].get<double>();
}

TEST(IpdFollowsUser, EventSliderAndCommandEachMoveTheEyeTransforms)
{
	IpdRun ipd(true, YawTransform(0, -0.03), YawTransform(0, 0.03));
	RunningSim sim(ipd.Options({"--scenario", ipd.Scenario("20 ipd_event 0.064\n60 setting driver_ZelvanProximity ipd_mm 66\n")}));
	ASSERT_TRUE(sim.WaitForLine("IPD: Settings slider changed to 66.0mm")) << sim.Output();
	std::this_thread::sleep_for(100ms);
	EXPECT_EQ(Ctl(sim, "ipd 64"), "OK ipd=64.0mm\n");
	EXPECT_EQ(Ctl(sim, "ipd?"), "OK ipd=64.0mm\n");
	const SimResult run = sim.Stop();
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "IPD: Initial IPD from HMD container: 0.0635m (63.5mm)\n"));
	EXPECT_TRUE(Has(log, "IPD: Got serial from SteamVR property: LHR-1A2B3C4D\n"));
	EXPECT_TRUE(Has(log, "IPD: Attempting config load from: " + ipd.calibration + "\n")) << ::testing::PrintToString(log);
	EXPECT_TRUE(Has(log, "IPD Event: VREvent_IpdChanged ipd=0.0640m (64.0mm)\n"));

	const auto transforms = run.Calls("SetDisplayEyeToHead");
	ASSERT_EQ(transforms.size(), 3u) << ::testing::PrintToString(log);
	const double expected_x[] = {0.032, 0.033, 0.032};
	for (size_t i = 0; i < 3; ++i) {
		EXPECT_NEAR(X(transforms[i]["left"]), -expected_x[i], 1e-6);
		EXPECT_NEAR(X(transforms[i]["right"]), expected_x[i], 1e-6);
	}
	// Identity rotations: every other element is the identity's.
	const auto &left = transforms[0]["left"];
	for (int r = 0; r < 3; ++r)
		for (int c = 0; c < 3; ++c)
			EXPECT_NEAR(left[r][c].get<double>(), r == c ? 1.0 : 0.0, 1e-6);
	EXPECT_EQ(left[1][3], 0.0);
	EXPECT_EQ(left[2][3], 0.0);

	std::vector<double> stored;
	for (const auto &call : run.Calls("SetFloat"))
		if (call["key"] == "ipd_mm")
			stored.push_back(call["value"].get<double>());
	EXPECT_EQ(stored, (std::vector<double>{64.0, 66.0, 64.0}));
}

TEST(IpdFollowsUser, OnlyValuesFrom48To75AreApplied)
{
	IpdRun ipd;
	RunningSim sim(ipd.Options({"--scenario", ipd.Scenario("5 ipd_event 0.04799\n6 ipd_event 0.075\n7 ipd_event 0.07501\n8 ipd_event 0.048\n")}));
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	std::this_thread::sleep_for(200ms);
	EXPECT_EQ(Ctl(sim, "ipd 75.01"), "ERR ipd out of range (48-75mm)\n");
	EXPECT_EQ(Ctl(sim, "ipd 47.99"), "ERR ipd out of range (48-75mm)\n");
	EXPECT_EQ(Ctl(sim, "ipd 75"), "OK ipd=75.0mm\n");
	EXPECT_EQ(Ctl(sim, "ipd 63.5mm"), "OK ipd=63.5mm\n");
	EXPECT_EQ(Ctl(sim, "ipd nan"), "ERR ipd out of range (48-75mm)\n");
	EXPECT_EQ(Ctl(sim, "ipd    "), "ERR ipd requires numeric argument (e.g. ipd 63.5)\n");
	const SimResult run = sim.Stop();
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "IPD Event: VREvent_IpdChanged ipd=0.0480m (48.0mm)\n"));
	EXPECT_TRUE(Has(log, "IPD Event: VREvent_IpdChanged ipd=0.0750m (75.0mm)\n"));
	EXPECT_TRUE(Has(log, "IPD Event: VREvent_IpdChanged ipd=0.0750m (75.0mm)\n"));
	std::vector<double> applied;
	for (const auto &call : run.Calls("SetDisplayEyeToHead"))
		applied.push_back(std::round(X(call["right"]) * 2 * 100000) / 100);
	// 75 and 48 from events; 75 (command) and 63.5.
	EXPECT_EQ(applied, (std::vector<double>{75.0, 48.0, 75.0, 63.5}));
}

TEST(IpdFollowsUser, WithoutCalibrationOnlyAnUnchangedIpdIsAccepted)
{
	IpdRun ipd(false);
	RunningSim sim(ipd.Options());
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	EXPECT_EQ(Ctl(sim, "ipd 63.5"), "OK ipd=63.5mm\n");
	EXPECT_EQ(Ctl(sim, "ipd 63.55"), "OK ipd=63.5mm\n");
	EXPECT_EQ(Ctl(sim, "ipd 64"), "ERR lh_config not loaded\n");
	EXPECT_EQ(Ctl(sim, "load_lh_config " + ipd.files.config_dir + "/lighthouse/none/config.json"),
	          "ERR failed to read config: file not found or parse error\n");
	const SimResult run = sim.Stop();
	EXPECT_TRUE(run.Calls("SetDisplayEyeToHead").empty());
	const auto log = run.Log();
	EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string &l) {
		return l.rfind("IPD: Failed to load lighthouse config from ", 0) == 0 && l.find("lhr-1a2b3c4d") != std::string::npos;
	})) << ::testing::PrintToString(log);
}

TEST(IpdFollowsUser, TheStoredSliderValueIsActedOnOnceAtStartAndTheInitialIpdKept)
{
	IpdRun ipd;
	const SimResult run = RunSim(ipd.Options({"--frames", "30"}, R"({"driver_ZelvanProximity": {"ipd_mm": 66}})"));
	ASSERT_EQ(run.exit_code, 0) << run.output;
	const auto log = run.Log();
	EXPECT_EQ(std::count(log.begin(), log.end(), "IPD: Settings slider changed to 66.0mm\n"), 1);
	EXPECT_EQ(run.Calls("SetDisplayEyeToHead").size(), 1u);
	for (const auto &call : run.Calls("WritePropertyBatch"))
		for (const auto &entry : call["entries"])
			if (entry["prop"] == 2003)
				EXPECT_NEAR(entry["value"].get<double>(), 0.066, 1e-6);
}

TEST(IpdFollowsUser, TheSliderSetUpReportsTheRuntimesErrorCodes)
{
	IpdRun ipd;
	const SimResult run = RunSim(ipd.Options({"--frames", "3", "--prop-error", "2100=TrackedProp_PermissionDenied"}));
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "IPD Slider: SetFloatProperty(IpdUIRangeMin=0.048) err=10\n")) << ::testing::PrintToString(log);
	EXPECT_TRUE(Has(log, "IPD Slider: SetFloatProperty(IpdUIRangeMax=0.075) err=0\n"));
	EXPECT_TRUE(Has(log, "IPD Slider: SetBoolProperty(DriverDisplaysIPDChanges=false) err=0\n"));
	EXPECT_TRUE(Has(log, "IPD Slider: CreateScalarComponent(/input/eye_distance/value) err=0 handle=1003\n"));
	for (const auto &call : run.Calls("WritePropertyBatch"))
		for (const auto &entry : call["entries"])
			if (entry["prop"] == 2108) {
				EXPECT_EQ(entry["tag"], 4);
				EXPECT_EQ(entry["value"], false);
			}
}

TEST(IpdFollowsUser, TheFirstModelOnlyLogsIpdEvents)
{
	IpdRun ipd;
	SimOptions options = ipd.Options({"--scenario", ipd.Scenario("400 ipd_event 0.066\n")});
	options.sensor = "hmd_serial QK1-00000042\ntracking_serial LHR-1A2B3C4D\nlevel 0 300\n";
	options.settings_json = R"({"driver_ZelvanProximity": {"report_rate_ms": 50}})";
	RunningSim sim(options);
	ASSERT_TRUE(sim.WaitForLine("HMD Serial: QK1-00000042 -> Zelvan 1 (IPD disabled)")) << sim.Output();
	EXPECT_EQ(Ctl(sim, "ipd?"), "ERR ipd not supported on Zelvan 1\n");
	EXPECT_EQ(Ctl(sim, "ipd 64"), "ERR ipd not supported on Zelvan 1\n");
	ASSERT_TRUE(sim.WaitForLine("IPD Event: VREvent_IpdChanged ipd=0.0660m (66.0mm)")) << sim.Output();
	const SimResult run = sim.Stop();
	EXPECT_TRUE(run.Calls("SetDisplayEyeToHead").empty());
}

TEST(IpdFollowsUser, ExplicitCalibrationLoadTakesThePathAsSent)
{
	IpdRun ipd;
	RunningSim sim(ipd.Options());
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	EXPECT_EQ(Ctl(sim, "load_lh_config " + ipd.calibration + "\\n"), "ERR failed to read config: file not found or parse error\n");
	EXPECT_EQ(Ctl(sim, "load_lh_config " + ipd.calibration), "OK lh_config=loaded\n");
	EXPECT_NE(Ctl(sim, "status").find("lh_config=loaded"), std::string::npos);
	const SimResult run = sim.Stop();
	EXPECT_TRUE(Has(run.Log(), "IPD: Cached rotations L pitch=-0.00 yaw=5.00 roll=-0.00  R pitch=-0.00 yaw=-5.00 roll=-0.00\n"));
}

#if !defined(_WIN32)
TEST(IpdFollowsUser, NumbersIgnoreADecimalCommaLocale)
{
	IpdRun ipd;
	RunningSim sim(ipd.Options({"--locale", "de_DE.UTF-8", "--scenario", ipd.Scenario("10 ipd_event 0.0642\n")},
	                           R"({"driver_ZelvanProximity": {"ipd_mm": 63.5}})"));
	ASSERT_TRUE(sim.WaitForLine("IPD Event: VREvent_IpdChanged ipd=0.0642m (64.2mm)")) << sim.Output();
	EXPECT_EQ(Ctl(sim, "ipd 63.7"), "OK ipd=63.7mm\n");
	EXPECT_NE(Ctl(sim, "status").find(" ipd=63.7mm "), std::string::npos);
	const SimResult run = sim.Stop();
	const auto transforms = run.Calls("SetDisplayEyeToHead");
	ASSERT_EQ(transforms.size(), 2u);
	EXPECT_NEAR(X(transforms[1]["right"]), 0.03185, 1e-6);
	EXPECT_TRUE(Has(run.Log(), "IPD: Initial IPD from HMD container: 0.0635m (63.5mm)\n"));
}
#endif

} // namespace
} // namespace zelvan::test
