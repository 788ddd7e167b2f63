// Laying out the runtime's registry and calibration files for tests.
#include "tests/support/runtime_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace zelvan::test {
namespace {

// JSON writes each backslash of a Windows path doubled.
std::string JsonPath(const std::string &path)
{
	std::string out;
	for (char c : path) {
		if (c == '\\')
			out += "\\\\";
		else
			out += c;
	}
	return out;
}

} // namespace

RuntimeFiles LayOutRuntime(const ScratchDir &scratch)
{
	namespace fs = std::filesystem;
	RuntimeFiles files;
	const fs::path user = scratch.path() / "user";
	files.config_dir = (scratch.path() / "steam" / "config").string();
	files.runtime_dir = (scratch.path() / "steam" / "steamapps" / "common" / "SteamVR").string();
	fs::create_directories(user / "openvr");
	fs::create_directories(files.config_dir);
	fs::create_directories(files.runtime_dir);
	std::ofstream(user / "openvr" / "openvrpaths.vrpath", std::ios::binary)
		<< "{\n\t\"config\" : \n\t[\n\t\t\"" << JsonPath(files.config_dir) << "\"\n\t],\n"
		<< "\t\"external_drivers\" : null,\n\t\"jsonid\" : \"vrpathreg\",\n"
		<< "\t\"log\" : \n\t[\n\t\t\"" << JsonPath((scratch.path() / "steam" / "logs").string()) << "\"\n\t],\n"
		<< "\t\"runtime\" : \n\t[\n\t\t\"" << JsonPath(files.runtime_dir) << "\"\n\t],\n\t\"version\" : 1\n}";
	files.env["XDG_CONFIG_HOME"] = user.string();
	files.env["LOCALAPPDATA"] = user.string();
	return files;
}

std::string WriteCalibration(const RuntimeFiles &files, const std::string &serial, const std::string &json)
{
	namespace fs = std::filesystem;
	std::string lower = serial;
	std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
	const fs::path dir = fs::path(files.config_dir) / "lighthouse" / lower;
	fs::create_directories(dir);
	const fs::path file = dir / "config.json";
	std::ofstream(file, std::ios::binary) << json;
	return file.string();
}

} // namespace zelvan::test
