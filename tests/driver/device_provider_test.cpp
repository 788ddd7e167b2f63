// The provider's Init and Cleanup against an in-process runtime: interface
// checks, settings clamping and the order of the lifecycle's log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <type_traits>

#include "core/host_interfaces.h"
#include "driver/device_provider.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

// IpdControls keeps the provider's reader slot, never a slot that dies first.
static_assert(std::is_constructible_v<IpdControls, std::unique_ptr<HidReader> &>);
static_assert(!std::is_constructible_v<IpdControls, std::unique_ptr<HidReader>>);
static_assert(!std::is_constructible_v<IpdControls, std::nullptr_t>);

bool Requested(const test::FakeRuntime &runtime, const char *version)
{
	return std::find(runtime.requested.begin(), runtime.requested.end(), version) != runtime.requested.end();
}

TEST(DeviceProviderInit, FailsWith105AndLogsNothingWhenARequiredInterfaceIsMissing)
{
	const char *required[] = {"IVRServerDriverHost_006", "IVRSettings_003", "IVRDriverLog_001",
	                          "IVRDriverManager_001", "IVRResources_001"};
	for (const char *missing : required) {
		SCOPED_TRACE(missing);
		test::FakeRuntime runtime;
		runtime.withheld = {missing};
		DeviceProvider provider;
		EXPECT_EQ(provider.Init(&runtime), vr::VRInitError_Init_InterfaceNotFound);
		EXPECT_TRUE(runtime.log.Lines().empty());
		EXPECT_TRUE(runtime.settings.reads.empty()) << "no setting may be read";
		EXPECT_TRUE(Requested(runtime, missing));
	}
}

TEST(DeviceProviderInit, WithoutTheDriverManagerHasAlreadyAskedForPropertiesAndTheLog)
{
	test::FakeRuntime runtime;
	runtime.withheld = {"IVRDriverManager_001"};
	DeviceProvider provider;
	EXPECT_EQ(provider.Init(&runtime), vr::VRInitError_Init_InterfaceNotFound);
	EXPECT_TRUE(Requested(runtime, "IVRProperties_001"));
	EXPECT_EQ(HostInterfaceCache().driver_log, &runtime.log);
	EXPECT_FALSE(Requested(runtime, "IVRResources_001"));
	EXPECT_TRUE(runtime.log.Lines().empty());
}

TEST(DeviceProviderInit, RunsWithoutTheOptionalPropertiesInterface)
{
	test::FakeRuntime runtime;
	runtime.withheld = {"IVRProperties_001"};
	DeviceProvider provider;
	EXPECT_EQ(provider.Init(&runtime), vr::VRInitError_None);
	provider.Cleanup();
}

TEST(DeviceProviderInit, ClampsEachSettingAndFallsBackToItsDefault)
{
	struct Case {
		std::optional<double> rate, verbosity, window, offset;
		const char *line;
		const char *offset_line; // the line after it: the offset's, or the next one when the offset is 0
	};
	constexpr const char *kNoOffset = "Config: presence_mode=auto\n";
	const Case cases[] = {
		{{}, {}, {}, {}, "Config: report_rate_ms=200, log_verbosity=0, moving_avg_length=8\n", kNoOffset},
		{10, 0, 8, 0, "Config: report_rate_ms=50, log_verbosity=0, moving_avg_length=8\n", kNoOffset},
		{20000, 0, 8, -300, "Config: report_rate_ms=5000, log_verbosity=0, moving_avg_length=8\n",
		 "Config: threshold_offset=-300\n"},
		{-3, 0, 8, 70000, "Config: report_rate_ms=50, log_verbosity=0, moving_avg_length=8\n",
		 "Config: threshold_offset=65535\n"},
		{50, 7, 0, -1e9, "Config: report_rate_ms=50, log_verbosity=1, moving_avg_length=1\n",
		 "Config: threshold_offset=-65535\n"},
		{5000, -1, 65, {}, "Config: report_rate_ms=5000, log_verbosity=0, moving_avg_length=64\n", kNoOffset},
		{333, 1, 64, 1, "Config: report_rate_ms=333, log_verbosity=1, moving_avg_length=64\n", "Config: threshold_offset=1\n"},
		{{}, 1, {}, {}, "Config: report_rate_ms=200, log_verbosity=1, moving_avg_length=8\n", kNoOffset},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.line);
		test::FakeRuntime runtime;
		auto set = [&](const char *key, std::optional<double> v) {
			if (v)
				runtime.settings.values[std::string("driver_ZelvanProximity/") + key] = *v;
		};
		set("report_rate_ms", c.rate);
		set("log_verbosity", c.verbosity);
		set("moving_avg_length", c.window);
		set("threshold_offset", c.offset);
		DeviceProvider provider;
		ASSERT_EQ(provider.Init(&runtime), vr::VRInitError_None);
		const auto lines = runtime.log.Lines();
		ASSERT_GE(lines.size(), 3u);
		EXPECT_EQ(lines[1], c.line);
		EXPECT_EQ(lines[2], c.offset_line);
		EXPECT_EQ(runtime.settings.reads,
		          (std::vector<std::string>{"report_rate_ms", "log_verbosity", "moving_avg_length", "threshold_offset"}));
		provider.Cleanup();
	}
}

TEST(DeviceProviderLifecycle, FramesRunBetweenInitAndCleanupAndTheLogEndsWithCleanup)
{
	test::FakeRuntime runtime;
	DeviceProvider provider;
	ASSERT_EQ(provider.Init(&runtime), vr::VRInitError_None);
	for (int i = 0; i < 5; ++i)
		provider.RunFrame();
	provider.Cleanup();
	const auto lines = runtime.log.Lines();
	ASSERT_GE(lines.size(), 3u);
	EXPECT_EQ(lines.front(), "Zelvan Proximity driver initializing\n");
	EXPECT_NE(std::find(lines.begin(), lines.end(), "Zelvan Proximity driver initialized successfully\n"), lines.end());
	const size_t before = lines.size();
	provider.RunFrame();
	EXPECT_EQ(runtime.log.Lines().size(), before) << "nothing reaches the log after Cleanup";
}

// A stored "on" or "off" takes hold in the frame that sets up the HMD's
// presence output, each as its control command would, and again when a
// timed hold of the other value ends: a covered or broken sensor stays unheard.
TEST(DeviceProviderLifecycle, AStoredPresenceModeIsAppliedAtTheFirstFrame)
{
	static ProximityOutput::Clock::time_point now;
	const struct {
		const char *stored;
		int holds; // 1 s holds of the other value, each replacing the one before, ran out after the first frame
		bool manual, presence;
	} cases[] = {{"on", 0, true, true},  {"off", 0, true, false}, {"auto", 0, false, false},
	             {"on", 1, true, true},  {"off", 1, true, false}, {"off", 2, true, false}};
	for (const auto &c : cases) {
		SCOPED_TRACE(std::string(c.stored) + " after " + std::to_string(c.holds) + " holds");
		test::FakeRuntime runtime;
		runtime.settings.strings["driver_ZelvanProximity/presence_mode"] = c.stored;
		DeviceProvider provider;
		ASSERT_EQ(provider.Init(&runtime), vr::VRInitError_None);
		provider.presence.now = [] { return now; };
		provider.RunFrame();
		if (c.holds > 0) {
			for (int i = 0; i < c.holds; ++i)
				provider.presence.HoldManualPresence(!c.presence, std::chrono::seconds(1));
			now += std::chrono::seconds(1);
			provider.RunFrame();
			EXPECT_EQ(provider.presence.HoldSecondsLeft(), 0);
		}
		EXPECT_EQ(provider.presence.manual_override, c.manual);
		EXPECT_EQ(provider.presence.last_presence, c.presence);
		EXPECT_FALSE(provider.presence.presence_mode_pending);
		provider.Cleanup();
	}
}

// A timed hold lets go in the first frame at or after its end, on the
// provider's clock, and that frame publishes the detector's value again.
TEST(DeviceProviderLifecycle, ATimedHoldEndsByItselfOnTheFirstFrameAfterItsEnd)
{
	static ProximityOutput::Clock::time_point now;
	test::FakeRuntime runtime;
	DeviceProvider provider;
	ASSERT_EQ(provider.Init(&runtime), vr::VRInitError_None);
	provider.presence.now = [] { return now; };
	provider.RunFrame();
	provider.presence.HoldManualPresence(true, std::chrono::seconds(90));
	const std::string ended = "Prox: Manual override ended after 1m30s, algorithm driving\n";
	const auto count_ended = [&] {
		const auto lines = runtime.log.Lines();
		return std::count(lines.begin(), lines.end(), ended);
	};
	const struct {
		std::chrono::milliseconds at;
		bool manual;
		long long left_s;
	} frames[] = {{std::chrono::milliseconds(0), true, 90}, {std::chrono::milliseconds(89001), true, 1},
	              {std::chrono::milliseconds(89999), true, 1}, {std::chrono::milliseconds(90000), false, 0},
	              {std::chrono::milliseconds(200000), false, 0}};
	const auto start = now;
	for (const auto &f : frames) {
		SCOPED_TRACE(f.at.count());
		now = start + f.at;
		provider.RunFrame();
		EXPECT_EQ(provider.presence.manual_override, f.manual);
		EXPECT_EQ(provider.presence.HoldSecondsLeft(), f.left_s);
		EXPECT_EQ(count_ended(), f.manual ? 0 : 1);
	}
	EXPECT_FALSE(provider.presence.last_presence) << "the detector's off is sent when the hold ends";
	EXPECT_EQ(runtime.input.boolean_updates.back().second, false);

	// A later command replaces the hold: nothing ends after it.
	provider.presence.HoldManualPresence(false, std::chrono::seconds(10));
	provider.presence.SetManualPresence(true);
	now += std::chrono::hours(1);
	provider.RunFrame();
	EXPECT_TRUE(provider.presence.manual_override);
	EXPECT_EQ(count_ended(), 1);
	provider.Cleanup();
}

} // namespace
} // namespace zelvan
