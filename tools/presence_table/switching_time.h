// How many readings the detector needs to switch presence after the raw
// level steps, found by feeding zelvan::ProximityAlgorithm itself.
#pragma once

#include <cstdint>

#include "sensor/user_signature.h"

namespace zelvan::tuning {

struct SwitchResult {
	enum Kind {
		Switched,       // presence switched on reading number `readings`
		Never,          // the average settles on the wrong side of the band's edge
		AlreadySwitched // the level before the step already gives the wanted state
	};
	Kind kind = Never;
	int readings = 0;
};

// The headset goes on: the detector is reset and settles at `off` (its ring
// starts all zero, so it is first filled with `off`), then every reading is
// `on` until presence turns true.
SwitchResult PutOn(int window, const UserSignature &calibration, uint16_t off, uint16_t on);

// The headset comes off: settled at `on`, then readings at `off` until
// presence turns false.
SwitchResult TakeOff(int window, const UserSignature &calibration, uint16_t on, uint16_t off);

// The headset is already on when the sensor opens or reconnects: straight
// after the reset, with the ring still all zero, readings at `on`.
SwitchResult OnFromReset(int window, const UserSignature &calibration, uint16_t on);

} // namespace zelvan::tuning
