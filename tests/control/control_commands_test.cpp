// The control commands' matching, replies and effects, on a provider that
// runs in-process against a fake runtime.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "control/control_commands.h"
#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "driver/device_provider.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

class ControlCommands : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_EQ(InitHostInterfaces(&runtime), 0);
		AttachDriverLog(&runtime.log);
		provider.presence.proximity_setup_done = true;
		provider.presence.proximity_handle = 1000;
	}
	void TearDown() override { DetachDriverLog(); }

	std::string Run(const std::string &text)
	{
		char reply[kReplySize];
		ExecuteControlCommand(provider.Targets(), text.c_str(), reply);
		return reply;
	}

	test::FakeRuntime runtime;
	DeviceProvider provider;
};

TEST_F(ControlCommands, OnlyExactTextsMatchTheExactCommands)
{
	for (const char *text : {"Status", "status ", "status\r\n", " status", "proximity  on", "proximity on\n",
	                         "ipd", "ipd?x", "PROXIMITY AUTO", "load_lh_config", "test_handle", "x"})
		EXPECT_EQ(Run(text), "ERR unknown command") << '"' << text << '"';
}

TEST_F(ControlCommands, ManualPresencePublishesOnlyChanges)
{
	EXPECT_EQ(Run("proximity on"), "OK proximity=true source=manual");
	EXPECT_EQ(Run("proximity on"), "OK proximity=true source=manual");
	EXPECT_TRUE(provider.presence.manual_override);
	EXPECT_EQ(Run("proximity off"), "OK proximity=false source=manual");
	EXPECT_EQ(Run("proximity auto"), "OK source=algorithm");
	EXPECT_FALSE(provider.presence.manual_override);
	EXPECT_EQ(runtime.input.boolean_updates,
	          (std::vector<std::pair<vr::VRInputComponentHandle_t, bool>>{{1000, true}, {1000, false}}));
	const auto log = runtime.log.Lines();
	EXPECT_EQ(log.back(), "Proximity: manual override cleared, algorithm driving\n");
}

// A command given before the headset's presence output exists supersedes a
// stored mode still waiting for it.
TEST_F(ControlCommands, ACommandBeforeTheHeadsetSupersedesTheStoredMode)
{
	for (const char *command : {"proximity auto", "proximity off"}) {
		provider.presence.manual_override = false;
		provider.presence.presence_mode = PresenceMode::On;
		provider.presence.presence_mode_pending = true;
		provider.presence.proximity_setup_done = false;
		Run(command);
		provider.presence.proximity_setup_done = true;
		provider.presence.ApplyStoredPresenceMode();
		EXPECT_FALSE(provider.presence.presence_mode_pending) << command;
		EXPECT_EQ(provider.presence.manual_override, std::string(command) == "proximity off") << command;
	}
}

TEST_F(ControlCommands, PersistStoresTheModeAndAppliesItAtOnce)
{
	struct Case {
		const char *text;
		const char *reply;
		const char *stored; // nullptr: nothing stored
		bool manual;
	};
	const Case cases[] = {
		{"proximity persist on", "OK presence_mode=on", "on", true},
		{"proximity persist off", "OK presence_mode=off", "off", true},
		{"proximity persist auto", "OK presence_mode=auto", "auto", false},
		{"proximity persist ON", "ERR usage: proximity persist on|off|auto", nullptr, true},
		{"proximity persist ", "ERR usage: proximity persist on|off|auto", nullptr, true},
		{"proximity persist on ", "ERR usage: proximity persist on|off|auto", nullptr, true},
		{"proximity persist", "ERR unknown command", nullptr, true},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.text);
		runtime.settings.strings.clear();
		provider.presence.manual_override = true;
		EXPECT_EQ(Run(c.text), c.reply);
		EXPECT_EQ(provider.presence.manual_override, c.manual);
		if (c.stored)
			EXPECT_EQ(runtime.settings.strings["driver_ZelvanProximity/presence_mode"], c.stored);
		else
			EXPECT_TRUE(runtime.settings.strings.empty());
	}
	EXPECT_EQ(runtime.input.boolean_updates,
	          (std::vector<std::pair<vr::VRInputComponentHandle_t, bool>>{{1000, true}, {1000, false}}));
}

// A hold is taken only when its whole duration is understood and in range;
// anything else leaves the hold in force (here on for 5 s) as it was.
TEST_F(ControlCommands, TimedHoldFormsAndRefusals)
{
	static ProximityOutput::Clock::time_point fixed;
	provider.presence.now = [] { return fixed; };
	const std::string usage = "ERR usage: proximity on|off for DURATION (seconds, or a whole number with s, m or h: "
	                          "90, 90s, 10m, 2h; 1s to 24h)";
	const std::string range = "ERR proximity hold out of range (1s to 24h)";
	struct Case {
		const char *text;
		std::string reply;
		long long held_s; // the hold afterwards; 5: the one in force stayed
	};
	const Case cases[] = {
		{"proximity on for 1", "OK proximity=true source=manual hold_left_s=1", 1},
		{"proximity off for 90s", "OK proximity=false source=manual hold_left_s=90", 90},
		{"proximity on for 1440m", "OK proximity=true source=manual hold_left_s=86400", 86400},
		{"proximity on for 24h", "OK proximity=true source=manual hold_left_s=86400", 86400},
		{"proximity on for 0", range, 5},
		{"proximity on for 86401", range, 5},
		{"proximity on for 1441m", range, 5},
		{"proximity off for 25h", range, 5},
		{"proximity on for 99999999999999999999999h", range, 5},
		{"proximity on for", usage, 5},
		{"proximity on for ", usage, 5},
		{"proximity on for 10d", usage, 5},
		{"proximity on for 1.5h", usage, 5},
		{"proximity on for -5", usage, 5},
		{"proximity on for +5", usage, 5},
		{"proximity on for 10 s", usage, 5},
		{"proximity on for 10H", usage, 5},
		{"proximity on for 10s ", usage, 5},
		{"proximity on for h", usage, 5},
		{"proximity auto for 10s", "ERR unknown command", 5},
		{"proximity on forever", "ERR unknown command", 5},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.text);
		provider.presence.HoldManualPresence(true, std::chrono::seconds(5));
		EXPECT_EQ(Run(c.text), c.reply);
		EXPECT_TRUE(provider.presence.manual_override);
		EXPECT_EQ(provider.presence.HoldSecondsLeft(), c.held_s);
	}
	for (const char *replaces : {"proximity on", "proximity off", "proximity auto", "proximity persist on"}) {
		provider.presence.HoldManualPresence(true, std::chrono::seconds(5));
		Run(replaces);
		EXPECT_EQ(provider.presence.HoldSecondsLeft(), 0) << replaces;
	}
}

TEST_F(ControlCommands, PersistChangesNothingWhenTheRuntimeDoesNotStoreIt)
{
	runtime.settings.set_string_error = vr::VRSettingsError_WriteFailed;
	EXPECT_EQ(Run("proximity persist on"), "ERR presence_mode not stored (settings error 2)");
	EXPECT_FALSE(provider.presence.manual_override);
	EXPECT_TRUE(runtime.input.boolean_updates.empty());
	EXPECT_EQ(runtime.log.Lines().back(), "Config: Failed to store presence_mode (err=2)\n");
}

TEST_F(ControlCommands, IpdArgumentsAreCheckedBeforeAnythingIsApplied)
{
	struct Case {
		const char *text;
		const char *reply;
	};
	const Case cases[] = {
		{"ipd ", "ERR ipd requires numeric argument (e.g. ipd 63.5)"},
		{"ipd    ", "ERR ipd requires numeric argument (e.g. ipd 63.5)"},
		{"ipd mm", "ERR ipd requires numeric argument (e.g. ipd 63.5)"},
		{"ipd 47.9", "ERR ipd out of range (48-75mm)"},
		{"ipd 75.1", "ERR ipd out of range (48-75mm)"},
		{"ipd nan", "ERR ipd out of range (48-75mm)"},
		{"ipd -inf", "ERR ipd out of range (48-75mm)"},
		{"ipd 1e39", "ERR ipd out of range (48-75mm)"},
		{"ipd 1e-50", "ERR ipd out of range (48-75mm)"},
		{"ipd --63.5", "ERR ipd requires numeric argument (e.g. ipd 63.5)"},
		{"ipd +-63.5", "ERR ipd requires numeric argument (e.g. ipd 63.5)"},
		{"ipd?", "OK ipd=unknown"},
		// The bounds themselves are in range (and then need a calibration).
		{"ipd 48", "ERR lh_config not loaded"},
		{"ipd 75", "ERR lh_config not loaded"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(Run(c.text), c.reply) << c.text;
	provider.ipd.current_ipd_m = 0.0635f;
	EXPECT_EQ(Run("ipd?"), "OK ipd=63.5mm");
	provider.ipd.first_model = true;
	EXPECT_EQ(Run("ipd?"), "ERR ipd not supported on Zelvan 1");
	EXPECT_EQ(Run("ipd 63"), "ERR ipd not supported on Zelvan 1");
	EXPECT_EQ(Run("ipd nonsense"), "ERR ipd not supported on Zelvan 1");
}

TEST_F(ControlCommands, TestHandleGoesStraightToTheRuntime)
{
	EXPECT_EQ(Run("test_handle 5 2"), "OK handle=5 value=true err=0");
	EXPECT_EQ(Run("test_handle 18446744073709551615 0"), "OK handle=18446744073709551615 value=false err=0");
	// What would wrap or saturate is refused rather than sent as another handle or value.
	for (const char *text : {"test_handle 5", "test_handle x 1", "test_handle 18446744073709551616 1",
	                         "test_handle 99999999999999999999999 1", "test_handle -1 1", "test_handle 5 2147483648",
	                         "test_handle 5 4294967296", "test_handle 5 -2147483649"})
		EXPECT_EQ(Run(text), "ERR usage: test_handle <handle> <0|1>") << text;
	EXPECT_EQ(Run("test_handle  +7\t-2147483648 trailing"), "OK handle=7 value=true err=0");
	EXPECT_EQ(runtime.input.boolean_updates,
	          (std::vector<std::pair<vr::VRInputComponentHandle_t, bool>>{{5, true}, {18446744073709551615ULL, false}, {7, true}}));
	EXPECT_FALSE(provider.presence.last_presence) << "the driver's own presence state is not touched";
	EXPECT_EQ(runtime.log.Lines().front(), "TestHandle: handle=5 value=true err=0\n");
}

TEST_F(ControlCommands, StatusWithoutAReaderUsesTheShortFormat)
{
	EXPECT_EQ(Run("status"),
	          "proximity=false hid=not_connected source=algorithm report_rate_ms=200 log_verbosity=0 "
	          "moving_avg_length=8 ipd=unknown lh_config=not_loaded");
	provider.ipd.current_ipd_m = 0.0635f;
	provider.presence.manual_override = true;
	provider.presence.last_presence = true;
	EXPECT_EQ(Run(std::string("status\0trailing", 15)),
	          "proximity=true hid=not_connected source=manual report_rate_ms=200 log_verbosity=0 "
	          "moving_avg_length=8 ipd=63.5mm lh_config=not_loaded");
	static ProximityOutput::Clock::time_point fixed;
	provider.presence.now = [] { return fixed; };
	provider.presence.HoldManualPresence(true, std::chrono::seconds(10));
	fixed += std::chrono::milliseconds(9500);
	EXPECT_EQ(Run("status"),
	          "proximity=true hid=not_connected source=manual report_rate_ms=200 log_verbosity=0 "
	          "moving_avg_length=8 ipd=63.5mm lh_config=not_loaded hold_left_s=1");
}

TEST_F(ControlCommands, StatusWithAReaderCarriesTheSensorKeysAndIsNeverCut)
{
	provider.reader = std::make_unique<HidReader>(64, true);
	provider.settings.report_rate_ms = 5000;
	provider.settings.moving_avg_length = 64;
	provider.settings.log_verbose = true;
	provider.ipd.current_ipd_m = 0.075f;
	provider.ipd.lh_config_loaded = true;
	const std::string status = Run("status");
	EXPECT_EQ(status,
	          "proximity=false hid=not_connected source=algorithm prox_raw=0 cal=0 thresh=1500 hyst=100 trim=0 "
	          "averaged_prox=0 detected=false eff_thresh=0 samples=0 report_rate_ms=5000 log_verbosity=1 "
	          "moving_avg_length=64 ipd=75.0mm lh_config=loaded");
	EXPECT_LT(status.size(), kReplySize);
	provider.settings.threshold_offset = -65535;
	const std::string offset_status = Run("status");
	EXPECT_EQ(offset_status, status + " threshold_offset=-65535");
	EXPECT_LT(offset_status.size(), kReplySize);
	static ProximityOutput::Clock::time_point fixed;
	provider.presence.now = [] { return fixed; };
	provider.presence.HoldManualPresence(true, std::chrono::hours(24));
	fixed += std::chrono::milliseconds(1);
	const std::string held_status = Run("status");
	EXPECT_EQ(held_status.substr(0, 36), "proximity=true hid=not_connected sou");
	EXPECT_EQ(held_status.substr(held_status.size() - 41), "threshold_offset=-65535 hold_left_s=86400");
	EXPECT_LT(held_status.size(), kReplySize);
}

// A setting changed in the running driver is stored for the next start;
// anything refused, or not stored, changes nothing.
TEST_F(ControlCommands, SetChangesTheSettingLiveOnlyOnceStored)
{
	struct Case {
		const char *text;
		const char *reply;
		const char *key; // stored under this key; nullptr: nothing stored
		int32_t value;
	};
	const char *usage = "ERR usage: set moving_avg_length|report_rate_ms|threshold_offset VALUE";
	const Case cases[] = {
		{"set moving_avg_length 12", "OK moving_avg_length=12", "moving_avg_length", 12},
		{"set moving_avg_length\t 64 ", usage, nullptr, 0},
		{"set moving_avg_length  64 ", "OK moving_avg_length=64", "moving_avg_length", 64},
		{"set report_rate_ms 50", "OK report_rate_ms=50", "report_rate_ms", 50},
		{"set threshold_offset -300", "OK threshold_offset=-300", "threshold_offset", -300},
		// The default calibration (threshold 1500, hysteresis 100) switches
		// both ways only for offsets from -1400 to 63935.
		{"set threshold_offset +63935", "OK threshold_offset=63935", "threshold_offset", 63935},
		{"set threshold_offset -1400", "OK threshold_offset=-1400", "threshold_offset", -1400},
		{"set threshold_offset 63936",
		 "ERR threshold_offset out of range (-1400 to 63935): the threshold 65436 plus the hysteresis 100 would be "
		 "above 65535, so presence would never come on",
		 nullptr, 0},
		{"set threshold_offset -1401",
		 "ERR threshold_offset out of range (-1400 to 63935): the threshold 99 would be below the hysteresis 100, so "
		 "presence would never go off",
		 nullptr, 0},
		{"set moving_avg_length 0", "ERR moving_avg_length out of range (1 to 64)", nullptr, 0},
		{"set moving_avg_length 65", "ERR moving_avg_length out of range (1 to 64)", nullptr, 0},
		{"set report_rate_ms 49", "ERR report_rate_ms out of range (50 to 5000)", nullptr, 0},
		{"set report_rate_ms 99999999999", usage, nullptr, 0},
		{"set threshold_offset -65536", "ERR threshold_offset out of range (-65535 to 65535)", nullptr, 0},
		{"set moving_avg_length 12x", usage, nullptr, 0},
		{"set moving_avg_length 1.5", usage, nullptr, 0},
		{"set moving_avg_length", usage, nullptr, 0},
		{"set moving_avg_length_x 3", usage, nullptr, 0},
		{"set log_verbosity 1", usage, nullptr, 0},
		{"set ", usage, nullptr, 0},
		{"set", "ERR unknown command", nullptr, 0},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.text);
		runtime.settings.values.clear();
		provider.settings = SensorSettings{};
		EXPECT_EQ(Run(c.text), c.reply);
		const SensorSettings &now = provider.settings;
		const std::string key = c.key ? c.key : "";
		EXPECT_EQ(now.moving_avg_length, key == "moving_avg_length" ? uint32_t(c.value) : 8u);
		EXPECT_EQ(now.report_rate_ms, key == "report_rate_ms" ? uint32_t(c.value) : 200u);
		EXPECT_EQ(now.threshold_offset, key == "threshold_offset" ? c.value : 0);
		if (c.key)
			EXPECT_EQ(runtime.settings.values, (std::map<std::string, double>{{"driver_ZelvanProximity/" + key, c.value}}));
		else
			EXPECT_TRUE(runtime.settings.values.empty());
	}
	runtime.settings.set_int_error = vr::VRSettingsError_WriteFailed;
	EXPECT_EQ(Run("set threshold_offset -300"), "ERR threshold_offset not stored (settings error 2)");
	EXPECT_EQ(provider.settings.threshold_offset, 0);
	EXPECT_EQ(runtime.log.Lines().back(), "Config: Failed to store threshold_offset (err=2)\n");
}

TEST_F(ControlCommands, SamplesWithoutAReaderIsRefused)
{
	for (const char *text : {"samples", "samples 0", "samples x"})
		EXPECT_EQ(Run(text), "ERR samples: no sensor reader (the HID library did not start)") << text;
	EXPECT_EQ(Run("samples?"), "ERR unknown command");
}

TEST_F(ControlCommands, LoadCommandTakesTheWholeRestAsThePath)
{
	// The path as given and as logged: a line end is part of the path but
	// cannot start a log line, and no C1 control reaches a terminal.
	const struct {
		std::string path, logged;
	} cases[] = {
		{"/nonexistent/config.json\n", "/nonexistent/config.json\\x0A"},
		{"/nonexistent/\x7F\x9B" "2J", "/nonexistent/\\x7F\\x9B2J"},
		{"/nonexistent/\xC2\x9B" "2J\xC2\x80", "/nonexistent/\\xC2\\x9B2J\\xC2\\x80"},
		{"/nonexistent/\xC2\xA0\xE2\x9B\x84\xC3\xA9", "/nonexistent/\xC2\xA0\xE2\x9B\x84\xC3\xA9"},
	};
	for (const auto &c : cases) {
		runtime.log.Clear();
		EXPECT_EQ(Run("load_lh_config " + c.path), "ERR failed to read config: file not found or parse error");
		EXPECT_EQ(runtime.log.Lines().front(), "IPD: Loading lighthouse config from explicit path: " + c.logged + "\n");
	}
	EXPECT_EQ(Run("load_lh_config /dev/zero"), "ERR failed to read config: file not found or parse error");
}

} // namespace
} // namespace zelvan
