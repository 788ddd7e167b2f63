// Head presence to the runtime: the HMD's /proximity input component, the
// property fallback, and the manual override of the control channel.
#include "presence/proximity_output.h"

#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "sensor/hid_reader.h"

namespace zelvan {
namespace {

const char *TrueFalse(bool value)
{
	return value ? "true" : "false";
}

} // namespace

void ProximityOutput::SetupProximityComponent()
{
	if (proximity_setup_done)
		return;
	const vr::PropertyContainerHandle_t container = HmdPropertyContainer();
	if (container == vr::k_ulInvalidPropertyContainer)
		return;
	proximity_setup_done = true;

	vr::IVRDriverInput *input = HostDriverInput();
	proximity_handle = vr::k_ulInvalidInputComponentHandle;
	const vr::EVRInputError error = input != nullptr
		? input->CreateBooleanComponent(container, "/proximity", &proximity_handle)
		: vr::VRInputError_InvalidParam;
	// A host that does not know the path may say yes and hand out no handle.
	if (error == vr::VRInputError_None && proximity_handle != vr::k_ulInvalidInputComponentHandle) {
		DriverLog("Proximity: Created /proximity component on HMD (handle=%llu)\n",
		          static_cast<unsigned long long>(proximity_handle));
	} else {
		DriverLog("Proximity: CreateBooleanComponent failed (err=%d), using property fallback\n", error);
		proximity_handle = 0;
	}
}

// Sends a presence value only when it differs from the last one sent; the
// value is recorded first, so a failed call is not repeated every frame.
void ProximityOutput::PublishProximity(bool present)
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
	WriteBoolProperty(HmdPropertyContainer(), vr::Prop_ContainsProximitySensor_Bool, present);
	DriverLog("Proximity: SetBoolProperty fallback (%s)\n", TrueFalse(present));
}

void ProximityOutput::UpdatePresence(const HidReader *reader, bool log_verbose)
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

// Any manual change supersedes a stored mode that has not taken hold yet.
void ProximityOutput::SetManualPresence(bool present)
{
	presence_mode_pending = false;
	manual_override = true;
	PublishProximity(present);
}

void ProximityOutput::ClearManualOverride()
{
	presence_mode_pending = false;
	manual_override = false;
	DriverLog("Proximity: manual override cleared, algorithm driving\n");
}

// RunFrame, where a control command would be handled: a stored on or off
// acts like that command. It waits for the frame in which the HMD's presence
// output is set up, as a value published before the HMD exists is lost.
void ProximityOutput::ApplyStoredPresenceMode()
{
	if (!presence_mode_pending || !proximity_setup_done)
		return;
	SetManualPresence(presence_mode == PresenceMode::On);
}

int ProximityOutput::PersistPresenceMode(PresenceMode mode)
{
	const int error = StorePresenceMode(*HostSettings(), mode);
	if (error != vr::VRSettingsError_None)
		return error;
	presence_mode = mode;
	if (mode == PresenceMode::Auto)
		ClearManualOverride();
	else
		SetManualPresence(mode == PresenceMode::On);
	return error;
}

} // namespace zelvan
