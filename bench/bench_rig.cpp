// The benchmarks' provider rig on the fake runtime and the simulated sensor.
#include "bench/bench_rig.h"

#include <cstring>
#include <thread>

#include "control/control_channel.h"
#include "core/driver_settings.h"
#include "tests/support/calibration_file.h"
#include "tools/sim_sensor/sim_sensor.h"

namespace zelvan::bench {
namespace {

bool IsIpdMm(const char *section, const char *key)
{
	return std::strcmp(section, kSettingsSection) == 0 && std::strcmp(key, "ipd_mm") == 0;
}

void SetError(vr::EVRSettingsError *out, vr::EVRSettingsError value)
{
	if (out != nullptr)
		*out = value;
}

} // namespace

float QuietSettings::GetFloat(const char *section, const char *key, vr::EVRSettingsError *error)
{
	if (!IsIpdMm(section, key))
		return FakeSettings::GetFloat(section, key, error);
	SetError(error, has_ipd_mm ? vr::VRSettingsError_None : vr::VRSettingsError_UnsetSettingHasNoDefault);
	return has_ipd_mm ? ipd_mm : 0.0f;
}

void QuietSettings::SetFloat(const char *section, const char *key, float value, vr::EVRSettingsError *error)
{
	if (!IsIpdMm(section, key)) {
		FakeSettings::SetFloat(section, key, value, error);
		return;
	}
	has_ipd_mm = true;
	ipd_mm = value;
	SetError(error, vr::VRSettingsError_None);
}

void *BenchRuntime::GetGenericInterface(const char *version, vr::EVRInitError *error)
{
	if (quiet_ && std::strcmp(version, vr::IVRSettings_Version) == 0) {
		if (error != nullptr)
			*error = vr::VRInitError_None;
		return static_cast<vr::IVRSettings *>(&quiet);
	}
	return FakeRuntime::GetGenericInterface(version, error);
}

std::string RealisticCalibration()
{
	return test::CalibrationJson(test::YawTransform(5.0, -0.0315), test::YawTransform(-5.0, 0.0315));
}

std::string ChannelPath()
{
	return ControlChannelName();
}

Rig::Rig(const RigOptions &options) : runtime(options.quiet_settings)
{
	if (zelvan_sim_sensor_configure(options.sensor) != 0) {
		error_ = "the simulated sensor refused its configuration";
		return;
	}
	test::FakeSettings &settings = runtime.ActiveSettings();
	const std::string section = std::string(kSettingsSection) + "/";
	settings.values[section + kReportRateMs.key] = options.report_rate_ms;
	settings.values[section + kMovingAvgLength.key] = options.moving_avg_length;
	// The runtime remembers the IPD slider between runs.
	settings.SetFloat(kSettingsSection, "ipd_mm", 63.5f, nullptr);

	if (provider.Init(&runtime) != vr::VRInitError_None) {
		error_ = "Init failed";
		return;
	}
	if (provider.control.pipe == kInvalidPipe) {
		error_ = "the control channel is not listening";
		return;
	}
	scratch.Write("config.json", RealisticCalibration());
	calibration_path = scratch.File("config.json");
	if (!provider.ipd.ParseLighthouseConfig(calibration_path)) {
		error_ = "the calibration file did not parse";
		return;
	}
	const bool worn = std::strstr(options.sensor, "level 0 2400") != nullptr;
	if (!WaitUntilSteady(worn, std::chrono::seconds(20)))
		error_ = "the provider did not reach its steady state";
}

Rig::~Rig()
{
	Cleanup();
	zelvan_sim_sensor_configure(nullptr);
}

void Rig::Cleanup()
{
	if (cleaned_)
		return;
	cleaned_ = true;
	provider.Cleanup();
}

bool Rig::SawPresence(bool value, size_t from) const
{
	const auto &updates = runtime.input.boolean_updates;
	for (size_t i = from; i < updates.size(); ++i)
		if (updates[i].first == provider.presence.proximity_handle && updates[i].second == value)
			return true;
	return false;
}

bool Rig::WaitUntilSteady(bool expect_present, std::chrono::milliseconds bound)
{
	const auto deadline = std::chrono::steady_clock::now() + bound;
	while (std::chrono::steady_clock::now() < deadline) {
		provider.RunFrame();
		const bool streaming = provider.reader && provider.reader->GetConnectionState() == ConnectionState::Open &&
		                       provider.reader->GetSnapshot().samples > 0;
		if (streaming && provider.ipd.model_decided && provider.presence.proximity_setup_done && provider.ipd.ipd_slider_ready &&
		    provider.ipd.current_ipd_m > 0.0f && provider.presence.last_presence == expect_present &&
		    provider.reader->IsPersonDetected() == expect_present) {
			// A few more frames, so no one-time step is left for the measured ones.
			for (int i = 0; i < 100; ++i)
				provider.RunFrame();
			return true;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(2));
	}
	return false;
}

} // namespace zelvan::bench
