// Laying out the runtime's registry and calibration files for tests.
#include "tests/support/runtime_files.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace zelvan::test {
namespace {

// JSON writes each backslash of a Windows path doubled; with `escaped`, each
// character beyond ASCII as \uXXXX (a surrogate pair beyond the BMP).
std::string JsonPath(const std::string &path, bool escaped)
{
	std::string out;
	unsigned units = 0;
	for (size_t i = 0; i < path.size(); ++i) {
		const auto c = static_cast<unsigned char>(path[i]);
		if (c == '\\') {
			out += "\\\\";
			continue;
		}
		if (!escaped || c < 0x80) {
			out += static_cast<char>(c);
			continue;
		}
		const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
		uint32_t code = c & (0x3F >> extra);
		for (int k = 0; k < extra && i + 1 < path.size(); ++k)
			code = (code << 6) | (static_cast<unsigned char>(path[++i]) & 0x3F);
		// Writers differ in the case of their hex digits (jsoncpp upper,
		// nlohmann and Python lower): every other escape is in lower case.
		const auto append_unit = [&](uint32_t unit_code) {
			char unit[16];
			std::snprintf(unit, sizeof(unit), units++ % 2 == 0 ? "\\u%04X" : "\\u%04x", unit_code);
			out += unit;
		};
		if (code >= 0x10000) {
			code -= 0x10000;
			append_unit(0xD800 + (code >> 10));
			code = 0xDC00 + (code & 0x3FF);
		}
		append_unit(code);
	}
	return out;
}

} // namespace

std::filesystem::path Utf8Path(const std::string &utf8)
{
	return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8String(const std::filesystem::path &path)
{
	const std::u8string text = path.u8string();
	return std::string(text.begin(), text.end());
}

RuntimeFiles LayOutRuntime(const ScratchDir &scratch, const LayoutNames &names)
{
	namespace fs = std::filesystem;
	RuntimeFiles files;
	const fs::path user = scratch.path() / Utf8Path(names.user);
	const fs::path steam = scratch.path() / Utf8Path(names.steam);
	files.user_dir = Utf8String(user);
	files.config_dir = Utf8String(steam / "config");
	files.runtime_dir = Utf8String(steam / "steamapps" / "common" / "SteamVR");
	fs::create_directories(user / "openvr");
	fs::create_directories(Utf8Path(files.config_dir));
	fs::create_directories(Utf8Path(files.runtime_dir));
	std::ofstream(user / "openvr" / "openvrpaths.vrpath", std::ios::binary)
		<< "{\n\t\"config\" : \n\t[\n\t\t\"" << JsonPath(files.config_dir, names.escaped) << "\"\n\t],\n"
		<< "\t\"external_drivers\" : null,\n\t\"jsonid\" : \"vrpathreg\",\n"
		<< "\t\"log\" : \n\t[\n\t\t\"" << JsonPath(Utf8String(steam / "logs"), names.escaped) << "\"\n\t],\n"
		<< "\t\"runtime\" : \n\t[\n\t\t\"" << JsonPath(files.runtime_dir, names.escaped)
		<< "\"\n\t],\n\t\"version\" : 1\n}";
	files.env["XDG_CONFIG_HOME"] = files.user_dir;
	files.env["LOCALAPPDATA"] = files.user_dir;
	// The kept copies of the headset's configuration stay in the scratch folder.
	files.env["XDG_DATA_HOME"] = Utf8String(user / "data");
	return files;
}

std::string WriteCalibration(const RuntimeFiles &files, const std::string &serial, const std::string &json)
{
	namespace fs = std::filesystem;
	std::string lower = serial;
	std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
	const fs::path dir = Utf8Path(files.config_dir) / "lighthouse" / lower;
	fs::create_directories(dir);
	const fs::path file = dir / "config.json";
	std::ofstream(file, std::ios::binary) << json;
	return Utf8String(file);
}

} // namespace zelvan::test
