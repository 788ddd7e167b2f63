// Building realistic calibration files for the IPD tests.
#include "tests/support/calibration_file.h"

#include <cmath>
#include <cstdio>

namespace zelvan::test {
namespace {

std::string Number(double v, const CalibrationStyle &style)
{
	char buffer[64];
	if (v != 0.0 && std::fabs(v) < 1e-4)
		std::snprintf(buffer, sizeof(buffer), style.upper_exponent ? "%.16E" : "%.16e", v);
	else
		std::snprintf(buffer, sizeof(buffer), "%.17g", v);
	return buffer;
}

struct Writer {
	const CalibrationStyle &style;
	std::string out;
	void Line(int depth, const std::string &text)
	{
		for (int i = 0; i < depth; ++i)
			out += style.tabs ? "\t" : "   ";
		out += text;
		out += style.crlf ? "\r\n" : "\n";
	}
	void Rows(int depth, const Matrix34 &m, size_t columns)
	{
		for (size_t r = 0; r < 3; ++r) {
			std::string row = "[ ";
			for (size_t c = 0; c < columns; ++c)
				row += Number(m[r][c], style) + (c + 1 < columns ? ", " : " ");
			Line(depth, row + (r < 2 ? "]," : "]"));
		}
	}
	void Eye(int depth, const Matrix34 &m, bool last)
	{
		Line(depth, "{");
		Line(depth + 1, "\"distortion\" : {");
		Line(depth + 2, "\"center_x\" : 0.0045231234567890123,");
		Line(depth + 2, "\"coeffs\" : [ 0.17620512843132019, -0.021434150263667107, 1.2E-05, 0 ],");
		Line(depth + 2, "\"type\" : \"DISTORT_DPOLY3\"");
		Line(depth + 1, "},");
		Line(depth + 1, "\"distortion_blue\" : { \"coeffs\" : [ 0.18, -0.02, 0, 0 ], \"type\" : \"DISTORT_DPOLY3\" },");
		Line(depth + 1, "\"distortion_red\" : { \"coeffs\" : [ 0.17, -0.02, 0, 0 ], \"type\" : \"DISTORT_DPOLY3\" },");
		Line(depth + 1, "\"extrinsics\" : [");
		Rows(depth + 2, m, 4);
		Line(depth + 1, "],");
		Line(depth + 1, "\"eye_to_head\" : [");
		Rows(depth + 2, m, 4);
		Line(depth + 1, "],");
		Line(depth + 1, "\"grow_for_undistort\" : 0.59999999999999998,");
		Line(depth + 1, "\"intrinsics\" : [");
		Line(depth + 2, "[ 1.0490837097167969, 0, -0.042105264216661453 ],");
		Line(depth + 2, "[ 0, 1.0513694286346436, 0.003894736804068089 ],");
		Line(depth + 2, "[ 0, 0, -1 ]");
		Line(depth + 1, "],");
		Line(depth + 1, "\"undistort_r2_cutoff\" : 1.5");
		Line(depth, last ? "}" : "},");
	}
};

} // namespace

Matrix34 YawTransform(double degrees, double x)
{
	const double a = degrees * 3.14159265358979323846 / 180.0;
	return Matrix34{{{std::cos(a), 0.0, std::sin(a), x}, {0.0, 1.0, 0.0, 0.0}, {-std::sin(a), 0.0, std::cos(a), 0.0}}};
}

std::string CalibrationJson(const Matrix34 &first, const Matrix34 &second, const CalibrationStyle &style)
{
	Writer w{style, {}};
	w.Line(0, "{");
	w.Line(1, "\"device_class\" : \"hmd\",");
	w.Line(1, "\"device_serial_number\" : \"LHR-1A2B3C4D\",");
	w.Line(1, "\"lighthouse_config\" : { \"channelMap\" : [ 0, 1, 2 ], \"modelNormals\" : [ [ 0, -0.70710678118654746, 0.70710678118654757 ] ] },");
	w.Line(1, "\"tracking_to_eye_transform\" : [");
	w.Eye(2, first, false);
	w.Eye(2, second, true);
	w.Line(1, "]");
	w.Line(0, "}");
	return w.out;
}

} // namespace zelvan::test
