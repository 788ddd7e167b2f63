// IpdControls: the IPD state on the runtime's side and every road that
// changes it (the initial value, the runtime's IPD events, the ipd_mm
// setting used as a slider, the control channel), with the calibration
// file's eye rotations that each new IPD is built from.
#pragma once

#include <memory>
#include <string>

#include "ipd/eye_rotations.h"

namespace zelvan {

class HidReader;

// Lives in the provider and runs on the runtime's thread only.
class IpdControls {
public:
	// The provider's reader slot: the sensor's flash is where the model and,
	// when the runtime has none, the tracking serial come from.
	explicit IpdControls(const std::unique_ptr<HidReader> &reader) : reader_(reader) {}
	// A temporary (IpdControls{nullptr} too) would be gone by the first use.
	explicit IpdControls(std::unique_ptr<HidReader> &&) = delete;
	IpdControls(const IpdControls &) = delete;
	IpdControls &operator=(const IpdControls &) = delete;

	// Init steps.
	void ReadInitialIpd();
	void LoadConfigEarly();

	// RunFrame steps.
	void DecideModel();
	void SetupIpdSlider();
	void DrainEvents();
	void PollIpdSlider();

	// Also driven by the control commands.
	bool ApplyIpd(float ipd_mm);
	bool ParseLighthouseConfig(const std::string &path);
	bool LoadLighthouseConfig();

	float current_ipd_m = 0.0f;
	float initial_ipd_m = 0.0f;
	bool lh_config_loaded = false;
	std::string config_serial;
	EyeRotations eye_rotations;
	bool first_model = false;
	bool model_decided = false;
	bool ipd_slider_ready = false;
	float last_slider_ipd_mm = 0.0f;

private:
	const std::unique_ptr<HidReader> &reader_;
};

} // namespace zelvan
