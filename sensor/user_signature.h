// UserSignature: the calibration and serial numbers kept in the proximity
// sensor's flash.
#pragma once

#include <cstdint>

namespace zelvan {

struct UserSignature {
	uint16_t programmed_cal = 0;
	uint16_t proximity_threshold = 1500;
	uint16_t proximity_hysteresis = 100;
	int16_t user_trim = 0;
	char tracking_serial[32] = {};
	char hmd_serial[32] = {};
};

} // namespace zelvan
