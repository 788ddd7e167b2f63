// DeviceProvider: the driver's IServerTrackedDeviceProvider and the owner of
// all of its state on the runtime's side.
#pragma once

#include <memory>

#include <openvr_driver.h>

#include "control/control_commands.h"
#include "control/control_server.h"
#include "core/driver_settings.h"
#include "ipd/ipd_controls.h"
#include "presence/proximity_output.h"
#include "sensor/hid_reader.h"

namespace zelvan {

// The one process-wide provider. It owns the reader and each subsystem's
// state on the runtime's side; Init, RunFrame and Cleanup are the list of
// their steps. Members are public for the tests and benchmarks.
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

	// What the control commands act on.
	ControlTargets Targets();

	std::unique_ptr<HidReader> reader;
	SensorSettings settings;
	ProximityOutput presence;
	IpdControls ipd{reader};
	ControlServer control;

private:
	// Init steps.
	void ReadSettings();
	void StartReader();

	// Cleanup step.
	void StopReader();
};

} // namespace zelvan
