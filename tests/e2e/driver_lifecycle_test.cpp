// The installed driver library in the host simulator: Init and Cleanup in
// order, settings from the runtime's file, and Init's failure path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

size_t IndexOf(const std::vector<std::string> &lines, const std::string &line)
{
	return static_cast<size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

TEST(DriverLifecycle, InitLogsItsStepsInOrderAndCleanupRunsAfterTheFrames)
{
	const SimResult run = RunSim({.args = {"--frames", "20"}});
	ASSERT_EQ(run.exit_code, 0) << run.output;
	ASSERT_TRUE(run.trace.is_object()) << run.output;
	EXPECT_EQ(run.trace["init_result"], 0);
	EXPECT_EQ(run.trace["frames"], 20);
	const auto log = run.Log();
	ASSERT_GE(log.size(), 3u) << run.output;
	EXPECT_EQ(log.front(), "Zelvan Proximity driver initializing\n");
	EXPECT_EQ(log[1], "Config: report_rate_ms=200, log_verbosity=0, moving_avg_length=8\n");
	const size_t done = IndexOf(log, "Zelvan Proximity driver initialized successfully\n");
	ASSERT_LT(done, log.size());
	for (const auto &entry : run.trace["log"])
		if (entry["text"] == "Zelvan Proximity driver initialized successfully\n")
			EXPECT_EQ(entry["frame"], 0) << "Init ends before the first frame";
}

TEST(DriverLifecycle, ConfigurationLineShowsSettingsFromTheRuntimeFileClamped)
{
	struct Case {
		const char *settings;
		const char *line;
	};
	const Case cases[] = {
		{R"({"driver_ZelvanProximity": {"report_rate_ms": 10, "log_verbosity": 7, "moving_avg_length": 65}})",
		 "Config: report_rate_ms=50, log_verbosity=1, moving_avg_length=64\n"},
		{R"({"driver_ZelvanProximity": {"report_rate_ms": 20000, "log_verbosity": -1, "moving_avg_length": 0}})",
		 "Config: report_rate_ms=5000, log_verbosity=0, moving_avg_length=1\n"},
		{R"({"steamvr": {"report_rate_ms": 100}, "driver_ZelvanProximity": {"moving_avg_length": 16}})",
		 "Config: report_rate_ms=200, log_verbosity=0, moving_avg_length=16\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.settings);
		const SimResult run = RunSim({.args = {"--frames", "2"}, .settings_json = c.settings});
		ASSERT_EQ(run.exit_code, 0) << run.output;
		const auto log = run.Log();
		ASSERT_GE(log.size(), 2u) << run.output;
		EXPECT_EQ(log[1], c.line);
	}
}

// A host that writes no out-parameter it need not (settings errors, property
// batch entries) and answers success with no handle for input paths it does
// not know: the driver acts only on what the host said it did.
TEST(DriverLifecycle, UnderALaxHostOnlyWhatTheHostReportedCounts)
{
	const SimResult run = RunSim(
		{.args = {"--frames", "3", "--lax-host", "--hmd-frame", "0", "--hmd-prop", "Prop_UserIpdMeters_Float=0.063"},
	     .settings_json = R"({"driver_ZelvanProximity": {"report_rate_ms": 120, "log_verbosity": 1,
	                          "moving_avg_length": 4, "presence_mode": "on"}})"});
	ASSERT_EQ(run.exit_code, 0) << run.output;
	const auto log = run.Log();
	ASSERT_GE(log.size(), 3u) << run.output;
	EXPECT_EQ(log[1], "Config: report_rate_ms=200, log_verbosity=0, moving_avg_length=8\n");
	EXPECT_EQ(log[2], "Config: presence_mode=auto\n");
	struct Case {
		const char *line;
		bool logged;
	};
	const Case cases[] = {
		{"IPD: No initial IPD available from HMD container (err=6)\n", true},
		{"Proximity: CreateBooleanComponent failed (err=0), using property fallback\n", true},
		{"Proximity: Created /proximity component on HMD (handle=0)\n", false},
		{"IPD Slider: SetFloatProperty(IpdUIRangeMin=0.048) err=6\n", true},
	};
	for (const Case &c : cases)
		EXPECT_EQ(IndexOf(log, c.line) < log.size(), c.logged) << c.line << run.output;
	for (const std::string &line : log)
		EXPECT_EQ(line.find("Unknown presence_mode"), std::string::npos) << line;
}

TEST(DriverLifecycle, PresenceModeIsReadAfterTheOtherSettingsAndOnHoldsPresenceFromTheFirstFrame)
{
	struct Case {
		const char *value; // JSON; nullptr: absent
		const char *unknown_line; // nullptr: none
		const char *mode;
		std::vector<bool> published;
	};
	const Case cases[] = {
		{nullptr, nullptr, "auto", {}},
		{R"("auto")", nullptr, "auto", {}},
		{R"("on")", nullptr, "on", {true}},
		{R"("off")", nullptr, "off", {}},
		{R"("always")", "Config: Unknown presence_mode \"always\", using auto\n", "auto", {}},
		{R"("on\n")", "Config: Unknown presence_mode \"on\\x0A\", using auto\n", "auto", {}},
		{"true", nullptr, "auto", {}},
		{"1", nullptr, "auto", {}},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.value ? c.value : "absent");
		std::string settings = R"({"driver_ZelvanProximity": {"report_rate_ms": 100)";
		if (c.value)
			settings += std::string(R"(, "presence_mode": )") + c.value;
		const SimResult run = RunSim({.args = {"--frames", "3"}, .settings_json = settings + "}}"});
		ASSERT_EQ(run.exit_code, 0) << run.output;
		auto log = run.Log();
		ASSERT_GE(log.size(), 4u) << run.output;
		EXPECT_EQ(log[1], "Config: report_rate_ms=100, log_verbosity=0, moving_avg_length=8\n");
		if (c.unknown_line) {
			EXPECT_EQ(log[2], c.unknown_line);
			log.erase(log.begin() + 2);
		}
		EXPECT_EQ(log[2], std::string("Config: presence_mode=") + c.mode + "\n");
		std::vector<bool> published;
		for (const auto &call : run.Calls("UpdateBooleanComponent")) {
			published.push_back(call["value"].get<bool>());
			EXPECT_EQ(call["frame"], 1);
		}
		EXPECT_EQ(published, c.published);
	}
}

TEST(DriverLifecycle, InitFailsWith105AndLogsNothingWhenAnInterfaceIsWithheld)
{
	for (const char *version : {"IVRDriverManager_001", "IVRSettings_003", "IVRServerDriverHost_006"}) {
		SCOPED_TRACE(version);
		const SimResult run = RunSim({.args = {"--frames", "5", "--withhold", version}});
		EXPECT_NE(run.exit_code, 0);
		ASSERT_TRUE(run.trace.is_object()) << run.output;
		EXPECT_EQ(run.trace["init_result"], 105);
		EXPECT_NE(run.output.find("105"), std::string::npos) << run.output;
		EXPECT_TRUE(run.Log().empty());
	}
}

} // namespace
} // namespace zelvan::test
