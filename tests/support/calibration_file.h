// Lighthouse calibration files as SteamVR writes them: each eye's object with
// its keys in alphabetical order, nested arrays, long numbers.
#pragma once

#include <array>
#include <string>

namespace zelvan::test {

using Matrix34 = std::array<std::array<double, 4>, 3>;

// A 3x4 eye-to-head transform that yaws by `degrees` about y, with the IPD
// half in the translation column.
Matrix34 YawTransform(double degrees, double x);

struct CalibrationStyle {
	bool tabs = false;           // indent with tabs instead of three spaces
	bool crlf = false;           // CR LF line ends
	bool upper_exponent = false; // 1.2E-05 rather than 1.2e-05
};

// The whole config.json text with the two eyes in the given order.
std::string CalibrationJson(const Matrix34 &first, const Matrix34 &second, const CalibrationStyle &style = {});

} // namespace zelvan::test
