// Head presence end to end: the simulated sensor's wearer, the driver in the
// host simulator, and what reaches the runtime according to its trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

using namespace std::chrono_literals;

const char *const kFastSettings =
	R"({"driver_ZelvanProximity": {"report_rate_ms": 50, "moving_avg_length": 2}})";

bool Has(const std::vector<std::string> &log, const std::string &line)
{
	return std::find(log.begin(), log.end(), line) != log.end();
}

std::vector<bool> BooleanUpdates(const SimResult &run)
{
	std::vector<bool> values;
	for (const auto &call : run.Calls("UpdateBooleanComponent"))
		values.push_back(call["value"].get<bool>());
	return values;
}

std::vector<bool> FallbackWrites(const SimResult &run)
{
	std::vector<bool> values;
	for (const auto &call : run.Calls("WritePropertyBatch"))
		for (const auto &entry : call["entries"])
			if (entry["prop"] == 1025)
				values.push_back(entry["value"].get<bool>());
	return values;
}

std::string Ctl(RunningSim &sim, const std::string &command)
{
	return RunProgram({BinPath(std::string("zelvan-ctl") + kExeSuffix), "send", command}, sim.ClientEnv()).output;
}

TEST(PresenceFollowsWearer, CalibrationAndModelComeFromTheSensorsFlash)
{
	struct Case {
		const char *serial;
		const char *model_line;
	};
	const Case cases[] = {
		{"ZV2-00012345", "HMD Serial: ZV2-00012345 -> Zelvan 2 (IPD enabled)"},
		{"QK1-00000042", "HMD Serial: QK1-00000042 -> Zelvan 1 (IPD disabled)"},
		{"qk1-lower", "HMD Serial: qk1-lower -> Zelvan 2 (IPD enabled)"},
		{"QK2-00000042", "HMD Serial: QK2-00000042 -> Zelvan 2 (IPD enabled)"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.serial);
		RunningSim sim({.settings_json = kFastSettings,
		                .sensor = std::string("cal 1234\nthresh 1600\nhyst 80\ntrim -100\n"
		                                      "tracking_serial LHR-1A2B3C4D\nhmd_serial ") + c.serial + "\nlevel 0 300\n"});
		ASSERT_TRUE(sim.WaitForLine(c.model_line)) << sim.Output();
		// The reset and the rate follow on the reader's and the next frame's
		// time, which a slow (sanitizer, loaded) run stretches.
		EXPECT_TRUE(sim.WaitForLine("Proximity: Algorithm reset (cal=1234, thresh=1600, hyst=80, trim=-100, eff_thresh=1500)"));
		EXPECT_TRUE(sim.WaitForLine("HID: Report rate set to 50ms"));
		const SimResult run = sim.Stop();
		const auto log = run.Log();
		EXPECT_TRUE(Has(log, "HID: Calibration: cal=1234 thresh=1600 hyst=80 trim=-100\n"));
		EXPECT_TRUE(Has(log, "HID: tracking_serial=LHR-1A2B3C4D (from flash)\n"));
		EXPECT_TRUE(Has(log, "Proximity: Algorithm reset (cal=1234, thresh=1600, hyst=80, trim=-100, eff_thresh=1500)\n"));
		EXPECT_TRUE(Has(log, "HID: Report rate set to 50ms\n"));
		EXPECT_EQ(std::count(log.begin(), log.end(), std::string(c.model_line) + "\n"), 1);
		EXPECT_EQ(log.back(), "HID: Device closed\n");
	}
}

TEST(PresenceFollowsWearer, OnlyChangesReachTheProximityComponent)
{
	RunningSim sim({.settings_json = kFastSettings, .sensor = "level 0 300\nwearer 500 on\nwearer 1200 off\n"});
	ASSERT_TRUE(sim.WaitForLine("Proximity: UpdateBooleanComponent(false) = 0")) << sim.Output();
	const SimResult run = sim.Stop();
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "Proximity: Created /proximity component on HMD (handle=1000)\n"));
	EXPECT_TRUE(Has(log, "Proximity: person_detected changed to true (avg=2400, thresh=1500)\n"));
	EXPECT_EQ(BooleanUpdates(run), (std::vector<bool>{true, false}));
	for (const auto &call : run.Calls("UpdateBooleanComponent")) {
		EXPECT_EQ(call["handle"], 1000);
		EXPECT_EQ(call["offset"], 0.0);
	}
	EXPECT_EQ(run.Calls("CreateBooleanComponent").size(), 1u);
}

TEST(PresenceFollowsWearer, ARefusedComponentFallsBackToTheProperty)
{
	RunningSim sim({.args = {"--refuse-component", "/proximity=VRInputError_InvalidDevice"},
	                .settings_json = kFastSettings,
	                .sensor = "level 0 2400\nwearer 700 off\n"});
	ASSERT_TRUE(sim.WaitForLine("Proximity: SetBoolProperty fallback (false)")) << sim.Output();
	const SimResult run = sim.Stop();
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "Proximity: CreateBooleanComponent failed (err=9), using property fallback\n"));
	EXPECT_TRUE(Has(log, "Proximity: SetBoolProperty fallback (true)\n"));
	EXPECT_EQ(FallbackWrites(run), (std::vector<bool>{true, false}));
	for (const auto &call : run.Calls("WritePropertyBatch"))
		for (const auto &entry : call["entries"])
			if (entry["prop"] == 1025) {
				EXPECT_EQ(entry["tag"], 4);
				EXPECT_EQ(entry["size"], 1);
			}
	EXPECT_TRUE(BooleanUpdates(run).empty());
}

TEST(PresenceFollowsWearer, AnHmdAddedLateGetsItsComponentOnceAndEarlierChangesAreNotRepeated)
{
	RunningSim sim({.args = {"--hmd-frame", "300"}, .settings_json = kFastSettings, .sensor = "level 0 2400\n"});
	ASSERT_TRUE(sim.WaitForLine("Proximity: Created /proximity component on HMD (handle=1000)")) << sim.Output();
	const SimResult run = sim.Stop();
	const auto creations = run.Calls("CreateBooleanComponent");
	ASSERT_EQ(creations.size(), 1u);
	EXPECT_EQ(creations[0]["frame"], 300);
	const auto writes = run.Calls("WritePropertyBatch");
	ASSERT_FALSE(writes.empty());
	EXPECT_EQ(writes[0]["container"], 0) << "published before the HMD existed";
	EXPECT_LT(writes[0]["frame"].get<int>(), 300);
	EXPECT_TRUE(BooleanUpdates(run).empty());
}

TEST(PresenceFollowsWearer, TheManualOverrideHoldsUntilAutoAndSilencesTheVerboseLine)
{
	RunningSim sim({.settings_json = R"({"driver_ZelvanProximity": {"report_rate_ms": 50, "moving_avg_length": 1, "log_verbosity": 1}})",
	                .sensor = "level 0 300\n"});
	ASSERT_TRUE(sim.WaitForLine("HID: Report rate set to 50ms")) << sim.Output();
	EXPECT_EQ(Ctl(sim, "proximity on"), "OK proximity=true source=manual\n");
	EXPECT_EQ(Ctl(sim, "proximity on"), "OK proximity=true source=manual\n");
	EXPECT_NE(Ctl(sim, "status").find("proximity=true hid=open source=manual"), std::string::npos);
	std::this_thread::sleep_for(200ms);
	EXPECT_EQ(Ctl(sim, "proximity auto"), "OK source=algorithm\n");
	ASSERT_TRUE(sim.WaitForLine("Proximity: UpdateBooleanComponent(false) = 0")) << sim.Output();
	const SimResult run = sim.Stop();
	EXPECT_EQ(BooleanUpdates(run), (std::vector<bool>{true, false}));
	// While the override held, no detector line was written.
	bool manual = false;
	int verbose_while_manual = 0, verbose_after = 0;
	for (const auto &line : run.Log()) {
		if (line == "Proximity: UpdateBooleanComponent(true) = 0\n")
			manual = true;
		if (line == "Proximity: manual override cleared, algorithm driving\n")
			manual = false;
		if (line.rfind("Prox: avg=", 0) == 0)
			(manual ? verbose_while_manual : verbose_after)++;
	}
	EXPECT_EQ(verbose_while_manual, 0);
	EXPECT_GT(verbose_after, 0);
}

TEST(PresenceFollowsWearer, APersistedModeIsWrittenToTheSettingsFileAndHoldsInTheNextRun)
{
	std::string stored;
	{
		RunningSim sim({.settings_json = kFastSettings, .sensor = "level 0 300\n"});
		ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
		const std::string ctl = BinPath(std::string("zelvan-ctl") + kExeSuffix);
		EXPECT_EQ(RunProgram({ctl, "proximity", "on", "--persist"}, sim.ClientEnv()).output, "OK presence_mode=on\n");
		EXPECT_NE(Ctl(sim, "status").find("proximity=true hid=open source=manual"), std::string::npos);
		const SimResult run = sim.Stop();
		ASSERT_EQ(run.exit_code, 0) << run.output;
		EXPECT_EQ(BooleanUpdates(run), std::vector<bool>{true});
		std::ifstream file(sim.scratch().File("steamvr.vrsettings"), std::ios::binary);
		stored.assign(std::istreambuf_iterator<char>(file), {});
	}
	const auto document = nlohmann::json::parse(stored, nullptr, false);
	ASSERT_TRUE(document.is_object()) << stored;
	EXPECT_EQ(document["driver_ZelvanProximity"]["presence_mode"], "on") << stored;
	EXPECT_EQ(document["driver_ZelvanProximity"]["report_rate_ms"], 50) << stored;

	// Next run: the HMD arrives at frame 3, and the value waits for it.
	const SimResult next = RunSim({.args = {"--frames", "6", "--hmd-frame", "3"}, .settings_json = stored,
	                               .sensor = "level 0 300\n"});
	ASSERT_EQ(next.exit_code, 0) << next.output;
	const auto log = next.Log();
	EXPECT_TRUE(Has(log, "Config: presence_mode=on\n"));
	const auto updates = next.Calls("UpdateBooleanComponent");
	ASSERT_EQ(updates.size(), 1u) << next.output;
	EXPECT_EQ(updates[0]["value"], true);
	EXPECT_EQ(updates[0]["frame"], 3);
	EXPECT_TRUE(FallbackWrites(next).empty());
}

TEST(PresenceFollowsWearer, WithoutAReaderOnlyTheOverrideSetsPresence)
{
	RunningSim sim({.sensor = "fail_init yes\n"});
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	EXPECT_EQ(Ctl(sim, "status"), "proximity=false hid=not_connected source=algorithm report_rate_ms=200 "
	                              "log_verbosity=0 moving_avg_length=8 ipd=unknown lh_config=not_loaded\n");
	EXPECT_EQ(Ctl(sim, "proximity on"), "OK proximity=true source=manual\n");
	EXPECT_EQ(Ctl(sim, "proximity auto"), "OK source=algorithm\n");
	std::this_thread::sleep_for(200ms);
	const SimResult run = sim.Stop();
	const auto log = run.Log();
	EXPECT_TRUE(Has(log, "HID: hid_init() failed\n"));
	EXPECT_FALSE(Has(log, "HID: Starting reader thread (rate=200ms)\n"));
	EXPECT_FALSE(Has(log, "IPD: Eager config load deferred -- serial not yet available from HID\n"));
	EXPECT_EQ(BooleanUpdates(run), std::vector<bool>{true});
	EXPECT_TRUE(Has(log, "Pipe: Destroyed\n"));
}

} // namespace
} // namespace zelvan::test
