// DeviceProvider: the driver's IServerTrackedDeviceProvider and the owner of
// all of its state on the runtime's side.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <openvr_driver.h>

#include "control/control_channel.h"
#include "driver/driver_settings.h"
#include "ipd/eye_rotations.h"
#include "sensor/hid_reader.h"

namespace zelvan {

// The one process-wide provider. Its data members are public: the presence,
// IPD and control subsystems are free functions and methods over this one
// object, all running on the runtime's thread.
class DeviceProvider : public vr::IServerTrackedDeviceProvider {
public:
	DeviceProvider() = default;
	~DeviceProvider();
	DeviceProvider(const DeviceProvider &) = delete;
	DeviceProvider &operator=(const DeviceProvider &) = delete;

	vr::EVRInitError Init(vr::IVRDriverContext *driver_context) override;
	void Cleanup() override;
	const char *const *GetInterfaceVersions() override;
	void RunFrame() override;
	bool ShouldBlockStandbyMode() override;
	void EnterStandby() override;
	void LeaveStandby() override;

	// Presence output (presence/), also driven by the control commands.
	void PublishProximity(bool present);
	void SetManualPresence(bool present);
	void ClearManualOverride();
	// The persist command: stores the mode and applies it at once; returns
	// the runtime's error code, 0 once stored.
	int PersistPresenceMode(PresenceMode mode);

	// IPD management (ipd/), also driven by the control commands.
	bool ApplyIpd(float ipd_mm);
	bool ParseLighthouseConfig(const std::string &path);
	bool LoadLighthouseConfig();

	std::unique_ptr<HidReader> reader;
	uint32_t report_rate_ms = 200;
	uint32_t moving_avg_length = 8;
	bool log_verbose = false;
	bool last_presence = false;
	bool manual_override = false;
	PresenceMode presence_mode = PresenceMode::Auto; // read at Init, changed by the persist command
	bool presence_mode_pending = false;             // the stored mode is still to take hold
	vr::VRInputComponentHandle_t proximity_handle = 0;
	bool proximity_setup_done = false;
	float current_ipd_m = 0.0f;
	bool lh_config_loaded = false;
	std::string config_serial;
	EyeRotations eye_rotations;
	float initial_ipd_m = 0.0f;
	bool first_model = false;
	bool model_decided = false;
	bool ipd_slider_ready = false;
	float last_slider_ipd_mm = 0.0f;
	PipeHandle pipe = kInvalidPipe;
	bool pipe_connected = false;
	PipeClient pipe_client;
	unsigned long pipe_error = 0;   // last creation error, 0 once created
	int64_t pipe_retry_at_ms = 0;   // next creation attempt; 0: none due

private:
	// Init steps.
	void ReadSettings();
	void StartReader();
	void CreateControlPipe();
	void ReadInitialIpd();
	void LoadConfigEarly();

	// RunFrame steps.
	void SetupProximityComponent();
	void ApplyStoredPresenceMode();
	void DecideModel();
	void SetupIpdSlider();
	void RetryControlPipe();
	void TryCreateControlPipe();
	void PollControlPipe();
	void DrainEvents();
	void PollIpdSlider();
	void UpdatePresence();

	// Cleanup steps.
	void PersistIpd();
	void DestroyControlPipe();
	void StopReader();
};

} // namespace zelvan
