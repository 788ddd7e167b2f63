// Building and damaging the text of a headset's stored configuration.
#include "tools/console_standin/config_text.h"

#include <cstdio>

#include <nlohmann/json.hpp>

namespace zelvan::console_standin {
namespace {

constexpr std::string_view kKey = "\"default_mm\"";

// Sorted keys and float-sized numbers, as the firmware's JSON writer leaves them.
constexpr std::string_view kTemplate = R"json({
   "device_class" : "hmd",
   "device_pid" : 8705,
   "device_serial_number" : "@SERIAL@",
   "device_vid" : 13757,
   "display" : {
      "edid_pid" : 45057,
      "edid_vid" : 53838,
      "eye_target_height_in_pixels" : 2160,
      "eye_target_width_in_pixels" : 2160,
      "first_eye" : "eEYE_LEFT",
      "last_eye" : "eEYE_RIGHT",
      "persistence" : 0.011111111380159855,
      "physical_aspect_x_over_y" : 0.94117647409439087,
      "refresh_hz" : 90
   },
   "firmware" : {
      "bootloader_version" : 1553,
      "fpga_version" : 262,
      "mainboard_version" : 1718294011
   },
   "head" : {
      "plus_x" : [ 1, 0, 0 ],
      "plus_z" : [ 0, 0, 1 ],
      "position" : [ 0, 0.0045199999585747719, 0.06549999862909317 ]
   },
   "imu" : {
      "acc_bias" : [ -0.1031000018119812, 0.01436999998986721, 0.20119999349117279 ],
      "acc_scale" : [ 0.99800002574920654, 0.9976000189781189, 0.99550002813339233 ],
      "gyro_bias" : [ 0.016209999099373817, -0.004629999864846468, 0.0084400000050663948 ],
      "gyro_scale" : [ 1, 1, 1 ],
      "plus_x" : [ 0, -1, 0 ],
      "plus_z" : [ 0, 0, 1 ],
      "position" : [ 0.030270000919699669, -0.020649999380111694, 0.050760000944137573 ]
   },
   "ipd" : {
      "default_mm" : @MM@,
      "max_mm" : 72.0,
      "min_mm" : 58.0,
      "step_mm" : 0.5
   },
   "lens" : {
      "fresnel" : false,
      "model" : "ZV2-PCK-05",
      "separation_mm" : 63.5
   },
   "lighthouse_config" : {
      "channelMap" : [ 0, 1, 2, 3, 4, 5, 6, 7 ],
      "modelNormals" : [
         [ -0.88366460800170898, 0.3401360809803009, 0.32162761688232422 ],
         [ -0.72036999464035034, -0.3401360809803009, 0.60446220636367798 ],
         [ -0.47018811106681824, 0.3401360809803009, 0.81438970565795898 ],
         [ -0.16329461336135864, -0.3401360809803009, 0.9260898232460022 ],
         [ 0.16329461336135864, 0.3401360809803009, 0.9260898232460022 ],
         [ 0.47018811106681824, -0.3401360809803009, 0.81438970565795898 ],
         [ 0.72036999464035034, 0.3401360809803009, 0.60446220636367798 ],
         [ 0.88366460800170898, -0.3401360809803009, 0.32162761688232422 ]
      ],
      "modelPoints" : [
         [ -0.07987387478351593, 0.028000000864267349, 0.0046254503540694714 ],
         [ -0.065113775432109833, -0.030999999493360519, 0.026280708611011505 ],
         [ -0.042500000447034836, 0.028000000864267349, 0.042353827506303787 ],
         [ -0.014760094694793224, -0.030999999493360519, 0.050906158983707428 ],
         [ 0.014760094694793224, 0.028000000864267349, 0.050906158983707428 ],
         [ 0.042500000447034836, -0.030999999493360519, 0.042353827506303787 ],
         [ 0.065113775432109833, 0.028000000864267349, 0.026280708611011505 ],
         [ 0.07987387478351593, -0.030999999493360519, 0.0046254503540694714 ]
      ]
   },
   "manufacturer" : "Zelvan",
   "mb_serial_number" : "ZV2MB-@SERIAL@",
   "model_number" : "Zelvan 2",
   "revision" : 3,
   "tracking_to_eye_transform" : [
      {
         "distortion" : {
            "center_x" : 0.0045199999585747719,
            "center_y" : 0.0038900000508874655,
            "coeffs" : [ 0.17620000243186951, -0.02143000066280365, 1.2000000424450263e-05, 0 ],
            "type" : "DISTORT_DPOLY3"
         },
         "eye_to_head" : [
            [ 0.99904823303222656, 0, 0.043619386851787567, @LEFT_X@ ],
            [ 0, 1, 0, 0 ],
            [ -0.043619386851787567, 0, 0.99904823303222656, 0 ]
         ],
         "grow_for_undistort" : 0.60000002384185791,
         "intrinsics" : [
            [ 1.0490000247955322, 0, -0.042100001126527786 ],
            [ 0, 1.051300048828125, 0.0038900000508874655 ],
            [ 0, 0, -1 ]
         ],
         "undistort_r2_cutoff" : 1.5
      },
      {
         "distortion" : {
            "center_x" : -0.0045199999585747719,
            "center_y" : 0.0038900000508874655,
            "coeffs" : [ 0.17620000243186951, -0.02143000066280365, 1.2000000424450263e-05, 0 ],
            "type" : "DISTORT_DPOLY3"
         },
         "eye_to_head" : [
            [ 0.99904823303222656, 0, -0.043619386851787567, @RIGHT_X@ ],
            [ 0, 1, 0, 0 ],
            [ 0.043619386851787567, 0, 0.99904823303222656, 0 ]
         ],
         "grow_for_undistort" : 0.60000002384185791,
         "intrinsics" : [
            [ 1.0490000247955322, 0, 0.042100001126527786 ],
            [ 0, 1.051300048828125, 0.0038900000508874655 ],
            [ 0, 0, -1 ]
         ],
         "undistort_r2_cutoff" : 1.5
      }
   ]
}
)json";

void ReplaceAll(std::string &text, std::string_view from, const std::string &to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
}

bool IsBlank(char c)
{
	return c == ' ' || c == '\t';
}

bool IsSpace(char c)
{
	return IsBlank(c) || c == '\r' || c == '\n';
}

size_t SkipSpace(const std::string &text, size_t at)
{
	while (at < text.size() && IsSpace(text[at]))
		++at;
	return at;
}

// Just behind the JSON value that starts at `at`: a string, an object or
// array (brackets matched outside strings), or a bare token.
size_t EndOfValue(const std::string &text, size_t at)
{
	int depth = 0;
	bool in_string = false;
	for (size_t i = at; i < text.size(); ++i) {
		const char c = text[i];
		if (in_string) {
			if (c == '\\') {
				++i;
			} else if (c == '"') {
				in_string = false;
				if (depth == 0)
					return i + 1;
			}
			continue;
		}
		if (c == '"') {
			in_string = true;
		} else if (c == '{' || c == '[') {
			++depth;
		} else if (c == '}' || c == ']') {
			if (depth == 0)
				return i;
			if (--depth == 0)
				return i + 1;
		} else if (depth == 0 && (c == ',' || IsSpace(c))) {
			return i;
		}
	}
	return text.size();
}

// The position of the value of the "default_mm" member whose key is at or
// after `from`, with the key's position in `key_at`; npos when there is none.
// A "default_mm" that is not followed by a colon is a string, not a key.
size_t FindDefaultMmValue(const std::string &text, size_t from, size_t &key_at)
{
	for (key_at = text.find(kKey, from); key_at != std::string::npos; key_at = text.find(kKey, key_at + 1)) {
		const size_t colon = SkipSpace(text, key_at + kKey.size());
		if (colon < text.size() && text[colon] == ':')
			return SkipSpace(text, colon + 1);
	}
	return std::string::npos;
}

} // namespace

std::optional<double> ParseJsonNumber(std::string_view text)
{
	if (text.empty() || IsSpace(text.front()) || IsSpace(text.back()))
		return std::nullopt;
	const nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
	if (!value.is_number())
		return std::nullopt;
	return value.get<double>();
}

std::string DefaultConfigText(const std::string &serial, const std::string &ipd_mm)
{
	// The translations as the firmware stores them: single precision, widened.
	const auto half = static_cast<float>(ParseJsonNumber(ipd_mm).value_or(63.5) / 2000.0);
	char left[32], right[32];
	std::snprintf(left, sizeof(left), "%.17g", static_cast<double>(-half));
	std::snprintf(right, sizeof(right), "%.17g", static_cast<double>(half));
	std::string text(kTemplate);
	ReplaceAll(text, "@SERIAL@", serial);
	ReplaceAll(text, "@MM@", ipd_mm);
	ReplaceAll(text, "@LEFT_X@", left);
	ReplaceAll(text, "@RIGHT_X@", right);
	return text;
}

std::string WithoutDefaultMm(std::string text)
{
	size_t key = 0;
	for (size_t value = FindDefaultMmValue(text, 0, key); value != std::string::npos;
	     value = FindDefaultMmValue(text, key, key)) {
		size_t begin = key;
		size_t end = EndOfValue(text, value);
		const size_t after = SkipSpace(text, end);
		if (after < text.size() && text[after] == ',') {
			end = after + 1;
			while (end < text.size() && IsBlank(text[end]))
				++end;
		} else {
			// The last member: the comma before it goes instead.
			size_t before = begin;
			while (before > 0 && IsSpace(text[before - 1]))
				--before;
			if (before > 0 && text[before - 1] == ',')
				begin = before - 1;
		}
		// A member that had a line of its own takes the line with it.
		const size_t line_begin = text.find_last_of('\n', begin == 0 ? 0 : begin - 1);
		const size_t first = line_begin == std::string::npos || begin == 0 ? 0 : line_begin + 1;
		const size_t line_end = text.find('\n', end);
		const auto blank = [&](size_t from, size_t to) {
			for (size_t i = from; i < to; ++i)
				if (!IsBlank(text[i]) && text[i] != '\r')
					return false;
			return true;
		};
		if (line_end != std::string::npos && blank(first, begin) && blank(end, line_end)) {
			begin = first;
			end = line_end + 1;
		}
		text.erase(begin, end - begin);
		key = begin;
	}
	return text;
}

std::string WithQuotedDefaultMm(std::string text)
{
	size_t key = 0;
	for (size_t value = FindDefaultMmValue(text, 0, key); value != std::string::npos;
	     value = FindDefaultMmValue(text, key + kKey.size(), key)) {
		const size_t end = EndOfValue(text, value);
		if (!ParseJsonNumber(std::string_view(text).substr(value, end - value)))
			continue;
		text.insert(end, 1, '"');
		text.insert(value, 1, '"');
	}
	return text;
}

} // namespace zelvan::console_standin
