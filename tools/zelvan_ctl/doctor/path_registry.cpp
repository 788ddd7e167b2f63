// zelvan-ctl paths: one path a line, or nothing printed at all.
#include "tools/zelvan_ctl/doctor/path_registry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

int RunPaths(const std::vector<std::string> &args)
{
	const bool known = !args.empty() && (args[0] == "runtime" || args[0] == "external_drivers" ||
	                                     args[0] == "config" || args[0] == "log");
	if (!known || args.size() > 2) {
		std::fprintf(stderr, "zelvan-ctl: paths needs runtime, external_drivers, config or log, and optionally "
		                     "the registry file (see --help)\n");
		return 64;
	}
	std::string registry;
	if (args.size() == 2) {
		registry = args[1];
	} else {
		const RegistryLocation location = FindPathRegistry();
		if (!location.found) {
			std::fprintf(stderr, "zelvan-ctl: %s is not set, so SteamVR's path registry cannot be found\n",
			             location.missing_var.c_str());
			return 1;
		}
		registry = location.path;
	}
	const std::string shown = EscapeControlBytes(registry);
	if (!FileExists(registry)) {
		std::fprintf(stderr, "zelvan-ctl: no path registry at %s\n", shown.c_str());
		return 1;
	}
	const nlohmann::json json = ReadJsonFile(registry);
	if (!json.is_object()) {
		std::fprintf(stderr, "zelvan-ctl: %s is not a JSON object\n", shown.c_str());
		return 1;
	}
	const std::vector<std::string> paths = RegistryList(json, args[0].c_str());
	// Checked before anything is printed: a reader must not act on half a list.
	for (const std::string &path : paths) {
		if (path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
			std::fprintf(stderr, "zelvan-ctl: %s: a path in %s holds a line break or NUL: %s\n", shown.c_str(),
			             args[0].c_str(), EscapeControlBytes(path).c_str());
			return 1;
		}
	}
	for (const std::string &path : paths)
		std::printf("%s\n", path.c_str());
	return 0;
}

namespace {

std::string WithoutTrailingSeparators(std::string dir)
{
	while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\'))
		dir.pop_back();
	return dir;
}

// A registered spelling of the same folder (another case on Windows, a
// trailing separator, a link) counts too, as SteamVR loads it from there. A
// relative name is resolved by SteamVR, not against our working folder.
bool NamesFolder(const std::string &dir, const std::string &folder)
{
	if (WithoutTrailingSeparators(dir) == folder)
		return true;
	if (dir.find('\0') != std::string::npos)
		return false; // the system would read a shorter name
	const std::filesystem::path path = Utf8Path(dir);
	std::error_code error;
	return path.is_absolute() && std::filesystem::equivalent(path, Utf8Path(folder), error) && !error;
}

// The registry's entries for the folder, as registered: vrpathreg removes
// only the spelling it is given.
std::vector<std::string> Registrations(const nlohmann::json &registry, const std::string &folder)
{
	std::vector<std::string> found;
	for (const std::string &dir : RegistryList(registry, "external_drivers"))
		if (NamesFolder(dir, folder))
			found.push_back(dir);
	return found;
}

int RunVrpathreg(const std::string &vrpathreg, const char *verb, const std::string &folder)
{
	const std::string command =
		"\"" + EscapeControlBytes(vrpathreg) + "\" " + verb + " \"" + EscapeControlBytes(folder) + "\"";
	std::string output;
	if (!RunTool(vrpathreg, {verb, folder}, output)) {
		std::fprintf(stderr, "zelvan-ctl: %s failed: %s\n", command.c_str(),
		             EscapeControlBytes(output.substr(0, output.find('\n'))).c_str());
		return 1;
	}
	std::printf("ran %s\n", command.c_str());
	return 0;
}

} // namespace

int RunRegister(const std::vector<std::string> &args, bool add)
{
	const char *verb = add ? "adddriver" : "removedriver";
	if (args.size() != 1 || args[0].empty()) {
		std::fprintf(stderr, "zelvan-ctl: %s needs the driver folder (see --help)\n", add ? "register" : "unregister");
		return 64;
	}
	const std::string folder = WithoutTrailingSeparators(args[0]);
	const std::string shown = EscapeControlBytes(folder);
	const RegistryLocation location = FindPathRegistry();
	nlohmann::json registry;
	if (location.found && FileExists(location.path)) {
		registry = ReadJsonFile(location.path);
		if (!registry.is_object()) {
			std::fprintf(stderr, "zelvan-ctl: %s is not a JSON object; start SteamVR once so that it writes it again\n",
			             EscapeControlBytes(location.path).c_str());
			return 1;
		}
	}
	std::string runtime_dir;
	for (const std::string &dir : RegistryList(registry, "runtime")) {
		std::error_code error;
		if (Utf8Path(dir).is_absolute() && std::filesystem::is_directory(Utf8Path(dir), error)) {
			runtime_dir = dir;
			break;
		}
	}
	const bool registered = !Registrations(registry, folder).empty();
	const std::string vrpathreg = VrpathregPath(runtime_dir);
	if (add && registered) {
		std::printf("%s is already registered with SteamVR\n", shown.c_str());
		return 0;
	}
	if (!add && !registered && !vrpathreg.empty()) {
		std::printf("%s is not registered with SteamVR\n", shown.c_str());
		return 0;
	}
	if (vrpathreg.empty()) {
		const std::string hint = runtime_dir.empty() ? kVrpathregHint : JoinUtf8(runtime_dir, kVrpathregInRuntime);
		const std::string where = location.found ? EscapeControlBytes(location.path) : "SteamVR's path registry";
		std::printf("SteamVR not found (no runtime with %s in %s); run:\n  \"%s\" %s \"%s\"\n", kVrpathregInRuntime,
		            where.c_str(), EscapeControlBytes(hint).c_str(), verb, shown.c_str());
		return 0;
	}
	if (add)
		return RunVrpathreg(vrpathreg, verb, folder);
	// Each spelling in turn, as registered, until none is left: SteamVR
	// would load the folder from any of them.
	std::vector<std::string> tried;
	for (std::vector<std::string> left = Registrations(registry, folder); !left.empty();
	     left = Registrations(ReadJsonFile(location.path), folder)) {
		const auto next = std::find_if(left.begin(), left.end(), [&](const std::string &dir) {
			return std::find(tried.begin(), tried.end(), dir) == tried.end();
		});
		if (next == left.end()) {
			std::fprintf(stderr, "zelvan-ctl: %s is still registered with SteamVR as %s\n", shown.c_str(),
			             EscapeControlBytes(left.front()).c_str());
			return 1;
		}
		tried.push_back(*next);
		if (const int status = RunVrpathreg(vrpathreg, verb, *next); status != 0)
			return status;
	}
	return 0;
}

} // namespace zelvan::ctl
