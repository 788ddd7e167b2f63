// Head presence to the runtime: the HMD's /proximity input component, the
// property fallback, and the manual override of the control channel.
#include "presence/proximity_output.h"

#include <cstdio>

#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "sensor/hid_reader.h"

namespace zelvan {
namespace {

const char *TrueFalse(bool value)
{
	return value ? "true" : "false";
}

// "2h", "1h30m", "90s" -> "1m30s": the largest units first, zeros left out.
struct DurationText {
	char text[24];
};

DurationText FormatDuration(long long seconds)
{
	DurationText out{};
	const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
	int used = 0;
	if (h != 0)
		used += std::snprintf(out.text + used, sizeof(out.text) - static_cast<size_t>(used), "%lldh", h);
	if (m != 0)
		used += std::snprintf(out.text + used, sizeof(out.text) - static_cast<size_t>(used), "%lldm", m);
	if (s != 0 || used == 0)
		std::snprintf(out.text + used, sizeof(out.text) - static_cast<size_t>(used), "%llds", s);
	return out;
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
	hold_length = std::chrono::seconds(0);
	stored_mode_in_force = false;
	presence_mode_pending = false;
	manual_override = true;
	PublishProximity(present);
}

void ProximityOutput::ClearManualOverride()
{
	hold_length = std::chrono::seconds(0);
	stored_mode_in_force = false;
	presence_mode_pending = false;
	manual_override = false;
	DriverLog("Proximity: manual override cleared, algorithm driving\n");
}

void ProximityOutput::HoldManualPresence(bool present, std::chrono::seconds length)
{
	// A hold that replaces a hold returns to what the first would have.
	const bool back_to_stored_mode =
		hold_length.count() != 0 ? hold_ends_in_stored_mode : stored_mode_in_force || presence_mode_pending;
	SetManualPresence(present);
	hold_length = length;
	hold_ends = now() + length;
	hold_ends_in_stored_mode = back_to_stored_mode;
}

long long ProximityOutput::HoldSecondsLeft() const
{
	if (hold_length.count() == 0)
		return 0;
	const Clock::duration left = hold_ends - now();
	if (left <= Clock::duration::zero())
		return 0;
	return std::chrono::ceil<std::chrono::seconds>(left).count();
}

// Nothing is published here: this frame's UpdatePresence sends the
// detector's value, and only if it differs from the held one.
void ProximityOutput::EndExpiredHold()
{
	if (hold_length.count() == 0 || now() < hold_ends)
		return;
	const DurationText length = FormatDuration(hold_length.count());
	hold_length = std::chrono::seconds(0);
	if (hold_ends_in_stored_mode) {
		// The kept on or off is there for a covered or broken sensor: the
		// hold returns to it, at once or in the frame the HMD is there.
		presence_mode_pending = true;
		ApplyStoredPresenceMode();
		DriverLog("Prox: Manual override ended after %s, presence_mode=%s again\n", length.text,
		          PresenceModeName(presence_mode));
		return;
	}
	manual_override = false;
	DriverLog("Prox: Manual override ended after %s, algorithm driving\n", length.text);
}

// RunFrame, where a control command would be handled: a stored on or off
// acts like that command. It waits for the frame in which the HMD's presence
// output is set up, as a value published before the HMD exists is lost.
void ProximityOutput::ApplyStoredPresenceMode()
{
	if (!presence_mode_pending || !proximity_setup_done)
		return;
	SetManualPresence(presence_mode == PresenceMode::On);
	stored_mode_in_force = true;
}

int ProximityOutput::PersistPresenceMode(PresenceMode mode)
{
	const int error = StorePresenceMode(*HostSettings(), mode);
	if (error != vr::VRSettingsError_None)
		return error;
	presence_mode = mode;
	if (mode == PresenceMode::Auto) {
		ClearManualOverride();
	} else {
		SetManualPresence(mode == PresenceMode::On);
		stored_mode_in_force = true;
	}
	return error;
}

} // namespace zelvan
