// The headset's lighthouse calibration file: finding it from the headset's
// serial and reading the two eye_to_head rotations out of it.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelvan {

// Reads three rows of at least three numbers each from the first '[' at or
// after start; only the first three numbers of a row are kept. True when
// exactly nine numbers were read.
bool ParseMatrixRows(std::string_view text, size_t start, float (&out)[9]);

// True for a proper rotation: orthonormal rows and a determinant of +1,
// each within 1e-3, which the file's printed digits keep well inside.
bool IsRotation(const float (&m)[9]);

// The text part of the calibration parse: the two matrices after the
// tracking_to_eye_transform anchor, in file order; a matrix that is not a
// rotation fails like one that does not parse. On failure, `failure` holds
// the log line that says what was missing.
struct EyeToHeadText {
	bool ok = false;
	const char *failure = nullptr;
	float first[9] = {};
	float second[9] = {};
};
EyeToHeadText ParseEyeToHeadText(std::string_view text);

// Pitch, yaw and roll in degrees of m = Rx(pitch) * Ry(yaw) * Rz(roll).
struct EyeAngles {
	float pitch, yaw, roll;
};
EyeAngles RotationAngles(const float (&m)[9]);

} // namespace zelvan
