// The scratch runtime each doctor test lays out and runs zelvan-ctl doctor in.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"
#include "tests/support/runtime_files.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {

namespace fs = std::filesystem;

#if defined(_WIN32)
const char *const kLibrary = "bin/win64/driver_ZelvanProximity.dll";
const char *const kHidapi = "bin/win64/hidapi.dll";
const char *const kSeparator = "\\";
#else
const char *const kLibrary = "bin/linux64/driver_ZelvanProximity.so";
const char *const kHidapi = "bin/linux64/libhidapi-hidraw.so.0";
const char *const kSeparator = "/";
#endif

const char *const kManifest = R"({ "alwaysActivate": true, "name" : "ZelvanProximity", "directory" : "" })";

inline void WriteFile(const fs::path &path, const std::string &text)
{
	fs::create_directories(path.parent_path());
	std::ofstream(path, std::ios::binary) << text;
}

// Folders named as people name their profile and their Steam library; the
// second written in the registry as \u escapes.
const LayoutNames kJoseJeuxVideo = {"Jos\xC3\xA9", "Jeux vid\xC3\xA9o", false};
const LayoutNames kYouxiEscaped = {"user", "\xE6\xB8\xB8\xE6\x88\x8F", true};

// A runtime laid out as SteamVR leaves it, which each case then changes.
struct Layout {
	ScratchDir dir;
	RuntimeFiles files;
	fs::path registry = Utf8Path(files.user_dir) / "openvr" / "openvrpaths.vrpath";
	fs::path logs = Utf8Path(files.config_dir).parent_path() / "logs";
	fs::path root = dir.path() / "root"; // the sysfs root
	std::map<std::string, std::string> env = files.env;

	explicit Layout(const LayoutNames &names = {}) : files(LayOutRuntime(dir, names))
	{
		env["ZELVAN_TEST_SYSFS_ROOT"] = Utf8String(root);
	}

	// Changes the registry's values (a JSON merge patch).
	void Patch(const nlohmann::json &patch) const
	{
		std::ifstream in(registry);
		nlohmann::json value = nlohmann::json::parse(in);
		in.close();
		value.merge_patch(patch);
		WriteFile(registry, value.dump(1, '\t'));
	}

	// A driver folder with its manifest and the library's files, this build's
	// library when it must load.
	fs::path DriverFolder(const std::string &name, bool library = true, bool hidapi = true) const
	{
		const fs::path folder = dir.path() / Utf8Path(name);
		WriteFile(folder / "driver.vrdrivermanifest", kManifest);
		fs::create_directories((folder / kLibrary).parent_path());
		if (library) {
			fs::copy_file(DriverLibraryPath(), folder / kLibrary);
		}
#if defined(_WIN32)
		if (hidapi)
			WriteFile(folder / kHidapi, "");
#else
		if (hidapi)
			fs::copy_file(ZELVAN_TEST_HIDAPI, folder / kHidapi);
#endif
		return folder;
	}

	fs::path Registered(bool library = true, bool hidapi = true, const std::string &name = "zelvanproximity") const
	{
		const fs::path folder = DriverFolder(name, library, hidapi);
		Patch({{"external_drivers", {Utf8String(folder)}}});
		return folder;
	}

	RunResult Doctor(const std::map<std::string, std::string> &extra = {}, bool json = true) const
	{
		std::map<std::string, std::string> all = env;
		for (const auto &[k, v] : extra)
			all[k] = v;
		std::vector<std::string> argv = {BinPath(std::string("zelvan-ctl") + kExeSuffix), "--timeout", "1", "doctor"};
		if (json)
			argv.insert(argv.begin() + 1, "--json");
		return RunProgram(argv, all, std::chrono::seconds(30));
	}
};

// --- zelvan-ctl and vrpathreg in the layout ---

// `wrapper`: a program that runs zelvan-ctl, and its words before it.
inline RunResult Ctl(const Layout &l, const std::vector<std::string> &words, const std::map<std::string, std::string> &extra = {},
              std::vector<std::string> argv = {})
{
	std::map<std::string, std::string> all = l.env;
	for (const auto &[k, v] : extra)
		all[k] = v;
	argv.insert(argv.end(), {BinPath(std::string("zelvan-ctl") + kExeSuffix), "--timeout", "1"});
	argv.insert(argv.end(), words.begin(), words.end());
	return RunProgram(argv, all, std::chrono::seconds(30));
}

inline std::string ReadAll(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

// The vrpathreg stand-in where the layout's runtime keeps vrpathreg.
inline fs::path InstallVrpathreg(const Layout &layout)
{
#if defined(_WIN32)
	const fs::path tool = Utf8Path(layout.files.runtime_dir) / "bin" / "win64" / "vrpathreg.exe";
#else
	const fs::path tool = Utf8Path(layout.files.runtime_dir) / "bin" / "vrpathreg.sh";
#endif
	fs::create_directories(tool.parent_path());
	fs::copy_file(ZELVAN_TEST_VRPATHREG, tool);
	return tool;
}

// --- SteamVR's settings file, for the steamvr_settings check and its mend ---

inline fs::path SettingsPath(const Layout &l)
{
	return Utf8Path(l.files.config_dir) / "steamvr.vrsettings";
}

// A real settings file as SteamVR writes it, with the driver's section added.
inline std::string SettingsWith(const nlohmann::json &sections)
{
	std::ifstream in(FixturePath("steamvr_psmoveservice_issue166.vrsettings"));
	nlohmann::json value = nlohmann::json::parse(in);
	value.merge_patch(sections);
	// SteamVR puts a space before the colon too.
	std::string text = value.dump(3);
	for (size_t at = text.find("\": "); at != std::string::npos; at = text.find("\": ", at + 4))
		text.insert(at + 1, " ");
	return text + "\n";
}

const nlohmann::json kBlocked = {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", true}, {"presence_mode", "on"}}}};
const nlohmann::json kDisabled = {{"driver_ZelvanProximity", {{"enable", false}}}};
const nlohmann::json kBoth = {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", true}, {"enable", false}}}};
const nlohmann::json kNeither = {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", false}, {"enable", true}}}};
const nlohmann::json kOtherBlocked = {{"driver_vridge", {{"blocked_by_safe_mode", true}}}};

} // namespace zelvan::test
