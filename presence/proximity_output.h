// ProximityOutput: head presence to the runtime, through the HMD's
// /proximity input component or its property fallback, and the manual
// override that the control channel and the stored presence mode hold.
#pragma once

#include <chrono>

#include <openvr_driver.h>

#include "core/driver_settings.h"

namespace zelvan {

class HidReader;

// Lives in the provider and runs on the runtime's thread only.
class ProximityOutput {
public:
	// RunFrame's first step: one attempt, in the first frame the HMD exists.
	void SetupProximityComponent();
	// RunFrame, where a control command would be handled.
	void ApplyStoredPresenceMode();
	// RunFrame's last step: the detector's decision, unless the override holds.
	void UpdatePresence(const HidReader *reader, bool log_verbose);

	// RunFrame, before a control command is handled: gives presence back to
	// the sensor, or to the stored on or off that was in force, once a timed
	// hold has run out. Reads the clock only while one runs.
	void EndExpiredHold();

	void PublishProximity(bool present);
	// Each replaces a timed hold that runs.
	void SetManualPresence(bool present);
	void ClearManualOverride();
	// The manual value for `length` (more than 0), after which presence
	// returns to the sensor by itself.
	void HoldManualPresence(bool present, std::chrono::seconds length);
	// Whole seconds until the timed hold ends, rounded up; 0 when none runs.
	long long HoldSecondsLeft() const;
	// The persist command: stores the mode and applies it at once; returns
	// the runtime's error code, 0 once stored.
	int PersistPresenceMode(PresenceMode mode);

	bool last_presence = false;
	bool manual_override = false;
	PresenceMode presence_mode = PresenceMode::Auto; // read at Init, changed by the persist command
	bool presence_mode_pending = false;             // the stored mode is still to take hold
	bool stored_mode_in_force = false;              // the override is the stored on or off
	vr::VRInputComponentHandle_t proximity_handle = 0;
	bool proximity_setup_done = false;

	// The timed hold; its clock is the tests' to replace.
	using Clock = std::chrono::steady_clock;
	Clock::time_point (*now)() = &Clock::now;
	std::chrono::seconds hold_length{0}; // 0: no timed hold runs
	Clock::time_point hold_ends;
	bool hold_ends_in_stored_mode = false; // it ends in the stored on or off, not the sensor
};

} // namespace zelvan
