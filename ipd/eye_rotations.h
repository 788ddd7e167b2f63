// The rotation part of each eye's eye-to-head transform, as the headset's
// lighthouse calibration file gives it.
#pragma once

namespace zelvan {

// Row-major 3x3 matrices: element [r][c] at index 3 * r + c.
struct EyeRotations {
	float left[9] = {};
	float right[9] = {};
};

} // namespace zelvan
