// The benchmarks' test bench: a DeviceProvider Init-ed against the fake
// runtime, reading the simulated sensor, with its calibration loaded.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "driver/device_provider.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/sim_run.h"

namespace zelvan::bench {

// The stock fake builds a "section/key" string and records every read, one
// allocation or more per frame that would be charged to the driver. This one
// answers the per-frame "ipd_mm" read from a plain member.
class QuietSettings : public test::FakeSettings {
public:
	float GetFloat(const char *section, const char *key, vr::EVRSettingsError *error) override;
	void SetFloat(const char *section, const char *key, float value, vr::EVRSettingsError *error) override;

	bool has_ipd_mm = false;
	float ipd_mm = 0.0f;
};

class BenchRuntime : public test::FakeRuntime {
public:
	explicit BenchRuntime(bool quiet_settings) : quiet_(quiet_settings) {}
	void *GetGenericInterface(const char *version, vr::EVRInitError *error) override;

	// The settings the provider gets: the quiet ones unless the stock fake was asked for.
	test::FakeSettings &ActiveSettings() { return quiet_ ? static_cast<test::FakeSettings &>(quiet) : settings; }

	QuietSettings quiet;

private:
	bool quiet_;
};

// A sensor as shipped: calibration and both serials in flash, on the head.
inline constexpr const char *kWornSensor =
	"cal 1234\nthresh 1500\nhyst 100\ntrim 0\ntracking_serial LHR-1A2B3C4D\nhmd_serial ZV2-00012345\nlevel 0 2400\n";
// The same sensor lying on the desk.
inline constexpr const char *kIdleSensor =
	"cal 1234\nthresh 1500\nhyst 100\ntrim 0\ntracking_serial LHR-1A2B3C4D\nhmd_serial ZV2-00012345\nlevel 0 300\n";

struct RigOptions {
	const char *sensor = kWornSensor;
	int32_t report_rate_ms = 200; // the driver's defaults
	int32_t moving_avg_length = 8;
	bool quiet_settings = true;
};

// Init, the calibration file, and frames until every one-time step of
// RunFrame is behind it and the presence the sensor implies is published.
class Rig {
public:
	explicit Rig(const RigOptions &options = {});
	~Rig();
	Rig(const Rig &) = delete;
	Rig &operator=(const Rig &) = delete;

	bool ready() const { return error_.empty(); }
	const std::string &error() const { return error_; }

	// Cleanup, once; the destructor does it otherwise.
	void Cleanup();

	// The first boolean update with `value` recorded since `from` updates.
	bool SawPresence(bool value, size_t from) const;

	BenchRuntime runtime;
	DeviceProvider provider;
	test::ScratchDir scratch;
	std::string calibration_path;

private:
	bool WaitUntilSteady(bool expect_present, std::chrono::milliseconds bound);
	std::string error_;
	bool cleaned_ = false;
};

// The control channel's name for the rig's provider (private to the run).
std::string ChannelPath();

// A realistic calibration text, both eyes yawed 5 degrees outwards.
std::string RealisticCalibration();

} // namespace zelvan::bench
