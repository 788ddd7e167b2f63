// Head presence to the runtime: the HMD's /proximity input component, the
// property fallback, and the manual override of the control channel.
#include "driver/device_provider.h"
#include "driver/driver_log.h"
#include "driver/host_interfaces.h"

namespace zelvan {
namespace {

const char *TrueFalse(bool value)
{
	return value ? "true" : "false";
}

} // namespace

// RunFrame's first step: one attempt, in the first frame the HMD exists.
void DeviceProvider::SetupProximityComponent()
{
	if (proximity_setup_done)
		return;
	const vr::PropertyContainerHandle_t container = HmdPropertyContainer();
	if (container == vr::k_ulInvalidPropertyContainer)
		return;
	proximity_setup_done = true;

	vr::IVRDriverInput *input = HostDriverInput();
	const vr::EVRInputError error = input != nullptr
		? input->CreateBooleanComponent(container, "/proximity", &proximity_handle)
		: vr::VRInputError_InvalidParam;
	if (error == vr::VRInputError_None) {
		DriverLog("Proximity: Created /proximity component on HMD (handle=%llu)\n",
		          static_cast<unsigned long long>(proximity_handle));
	} else {
		DriverLog("Proximity: CreateBooleanComponent failed (err=%d), using property fallback\n", error);
		proximity_handle = 0;
	}
}

// Sends a presence value only when it differs from the last one sent; the
// value is recorded first, so a failed call is not repeated every frame.
void DeviceProvider::PublishProximity(bool present)
{
	if (present == last_presence)
		return;
	last_presence = present;

	if (proximity_handle != 0) {
		vr::IVRDriverInput *input = HostDriverInput();
		const vr::EVRInputError error = input != nullptr
			? input->UpdateBooleanComponent(proximity_handle, present, 0.0)
			: vr::VRInputError_InvalidHandle;
		DriverLog("Proximity: UpdateBooleanComponent(%s) = %d\n", TrueFalse(present), error);
		return;
	}
	// Before the HMD exists this goes to the invalid container, and is lost.
	if (HostHasProperties())
		HostProperties()->SetBoolProperty(HmdPropertyContainer(), vr::Prop_ContainsProximitySensor_Bool, present);
	DriverLog("Proximity: SetBoolProperty fallback (%s)\n", TrueFalse(present));
}

// RunFrame's last step.
void DeviceProvider::UpdatePresence()
{
	if (!reader || manual_override)
		return;
	PublishProximity(reader->IsPersonDetected());
	if (!log_verbose)
		return;
	const ProximitySnapshot snapshot = reader->GetSnapshot();
	DriverLog("Prox: avg=%u thresh=%u detected=%s samples=%u\n", snapshot.averaged_prox,
	          static_cast<unsigned>(snapshot.eff_thresh), TrueFalse(snapshot.person_detected), snapshot.samples);
}

void DeviceProvider::SetManualPresence(bool present)
{
	manual_override = true;
	PublishProximity(present);
}

void DeviceProvider::ClearManualOverride()
{
	manual_override = false;
	DriverLog("Proximity: manual override cleared, algorithm driving\n");
}

} // namespace zelvan
