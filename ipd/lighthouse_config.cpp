// LoadLighthouseConfig and ParseLighthouseConfig: from the headset serial to
// the cached eye rotations.
#include "ipd/lighthouse_config.h"

#include <cmath>
#include <cstring>
#include <string>

#include "core/c_numbers.h"
#include "core/driver_log.h"
#include "core/host_interfaces.h"
#include "core/text_escape.h"
#include "ipd/ipd_controls.h"
#include "ipd/json_scan.h"
#include "ipd/runtime_paths.h"
#include "ipd/serial_check.h"
#include "sensor/hid_reader.h"

namespace zelvan {
namespace {

bool IsBlank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

size_t Skip(std::string_view text, size_t pos, bool commas)
{
	while (pos < text.size() && (IsBlank(text[pos]) || (commas && text[pos] == ',')))
		++pos;
	return pos;
}

// The HMD's serial as the runtime knows it, or empty with the reason logged.
std::string SerialFromRuntime()
{
	char buffer[64];
	const vr::ETrackedPropertyError error = ReadHmdString(vr::Prop_SerialNumber_String, buffer, sizeof(buffer));
	if (error == vr::TrackedProp_Success && buffer[0] != '\0') {
		DriverLog("IPD: Got serial from SteamVR property: %s\n", buffer);
		return buffer;
	}
	DriverLog("IPD: Prop_SerialNumber_String not available (err=%d)\n",
	          error == vr::TrackedProp_Success ? 0 : static_cast<int>(error));
	return {};
}

} // namespace

bool ParseMatrixRows(std::string_view text, size_t start, float (&out)[9])
{
	if (start >= text.size())
		return false;
	size_t cursor = text.find('[', start);
	if (cursor == std::string_view::npos)
		return false;
	++cursor;
	int count = 0;
	for (int row = 0; row < 3; ++row) {
		if (cursor >= text.size())
			break;
		cursor = text.find('[', cursor);
		if (cursor == std::string_view::npos)
			return false;
		++cursor;
		for (int column = 0; column < 3 && cursor < text.size(); ++column) {
			cursor = Skip(text, cursor, false);
			size_t used = 0;
			const std::optional<float> number = ParseFloat(text.data() + cursor, text.data() + text.size(), &used);
			if (!number)
				return false;
			out[3 * row + column] = *number;
			++count;
			cursor = Skip(text, cursor + used, true);
		}
		if (cursor < text.size() && text[cursor] == ']')
			cursor = Skip(text, cursor + 1, true);
	}
	return count == 9;
}

bool IsRotation(const float (&m)[9])
{
	constexpr float kTolerance = 1e-3f;
	const auto dot = [&m](int a, int b) {
		return m[3 * a] * m[3 * b] + m[3 * a + 1] * m[3 * b + 1] + m[3 * a + 2] * m[3 * b + 2];
	};
	for (int a = 0; a < 3; ++a)
		for (int b = a; b < 3; ++b)
			if (!(std::fabs(dot(a, b) - (a == b ? 1.0f : 0.0f)) <= kTolerance))
				return false;
	// Orthonormal rows with a determinant of -1 would mirror the eye's view.
	const float det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
	                  m[2] * (m[3] * m[7] - m[4] * m[6]);
	return std::fabs(det - 1.0f) <= kTolerance;
}

EyeToHeadText ParseEyeToHeadText(std::string_view text)
{
	EyeToHeadText result;
	const size_t anchor = text.find("tracking_to_eye_transform");
	if (anchor == std::string_view::npos) {
		result.failure = "IPD: No tracking_to_eye_transform in config file\n";
		return result;
	}
	const size_t e0 = text.find("eye_to_head", anchor);
	if (e0 == std::string_view::npos) {
		result.failure = "IPD: No eye_to_head[0] in config file\n";
		return result;
	}
	if (!ParseMatrixRows(text, e0, result.first) || !IsRotation(result.first)) {
		result.failure = "IPD: Failed to parse eye_to_head[0] matrix\n";
		return result;
	}
	const size_t e1 = text.find("eye_to_head", e0 + 11);
	if (e1 == std::string_view::npos) {
		result.failure = "IPD: No eye_to_head[1] in config file\n";
		return result;
	}
	if (!ParseMatrixRows(text, e1, result.second) || !IsRotation(result.second)) {
		result.failure = "IPD: Failed to parse eye_to_head[1] matrix\n";
		return result;
	}
	result.ok = true;
	return result;
}

EyeAngles RotationAngles(const float (&m)[9])
{
	const auto degrees = [](float radians) { return radians * 180.0f / 3.1415927f; };
	return EyeAngles{
		degrees(std::atan2(-m[5], m[8])),
		degrees(std::atan2(m[2], std::sqrt(m[0] * m[0] + m[1] * m[1]))),
		degrees(std::atan2(-m[1], m[0])),
	};
}

bool IpdControls::ParseLighthouseConfig(const std::string &path)
{
	const std::string logged = EscapeControlBytes(path);
	std::string text;
	if (!ReadTextFile(path, text)) {
		DriverLog("IPD: Failed to open config file: %s\n", logged.c_str());
		return false;
	}
	DriverLog("IPD: Read config file (%zu bytes): %s\n", text.size(), logged.c_str());
	const EyeToHeadText parsed = ParseEyeToHeadText(text);
	if (!parsed.ok) {
		DriverLog("%s", parsed.failure);
		return false;
	}
	const float *first = parsed.first;
	const float yaw = std::atan2(first[2], std::sqrt(first[0] * first[0] + first[1] * first[1]));
	const bool in_order = yaw > 0.0f;
	if (!in_order)
		DriverLog("IPD: WARNING eye order swapped in config, correcting\n");
	std::memcpy(eye_rotations.left, in_order ? parsed.first : parsed.second, sizeof(eye_rotations.left));
	std::memcpy(eye_rotations.right, in_order ? parsed.second : parsed.first, sizeof(eye_rotations.right));
	lh_config_loaded = true;

	const EyeAngles l = RotationAngles(eye_rotations.left);
	const EyeAngles r = RotationAngles(eye_rotations.right);
	const auto f = [](float v) { return FormatFixed(static_cast<double>(v), 2); };
	DriverLog("IPD: Cached rotations L pitch=%s yaw=%s roll=%s  R pitch=%s yaw=%s roll=%s\n", f(l.pitch).text,
	          f(l.yaw).text, f(l.roll).text, f(r.pitch).text, f(r.yaw).text, f(r.roll).text);
	return true;
}

bool IpdControls::LoadLighthouseConfig()
{
	std::string serial = SerialFromRuntime();
	if (serial.empty()) {
		if (reader_)
			serial = reader_->GetTrackingSerial();
		if (serial.empty()) {
			DriverLog("IPD: No tracking serial available from any source\n");
			return false;
		}
		DriverLog("IPD: Got serial from HID flash: %s\n", serial.c_str());
	}
	// The serial becomes part of a path here and of the console tool's input
	// at shutdown.
	if (!IsSafeSerial(serial)) {
		DriverLog("IPD: Refusing unsafe serial \"%s\"\n", EscapeForLog(serial).c_str());
		return false;
	}
	config_serial = serial;

	const RegistryLocation registry = FindPathRegistry();
	if (!registry.found) {
		DriverLog("IPD: Failed to get %s\n", registry.missing_var.c_str());
		return false;
	}
	std::string registry_text;
	if (!ReadTextFile(registry.path, registry_text)) {
		DriverLog("IPD: Failed to open %s\n", EscapeControlBytes(registry.path).c_str());
		return false;
	}
	const std::string dir = FindJsonStringValue(registry_text, "config");
	if (dir.empty()) {
		DriverLog("IPD: No 'config' key in openvrpaths.vrpath\n");
		return false;
	}
	const std::string path = CalibrationPath(dir, serial);
	// The registry is outside text: its folder names may hold control bytes.
	const std::string logged = EscapeControlBytes(path);
	DriverLog("IPD: Attempting config load from: %s\n", logged.c_str());
	const bool ok = ParseLighthouseConfig(path);
	if (ok)
		DriverLog("IPD: Lighthouse config loaded successfully from %s\n", logged.c_str());
	else
		DriverLog("IPD: Failed to load lighthouse config from %s\n", logged.c_str());
	return ok;
}

} // namespace zelvan
