// zelvan-ctl paths: one path a line, or nothing printed at all.
#include "tools/zelvan_ctl/paths_command.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/doctor.h"
#include "tools/zelvan_ctl/doctor_steamvr.h"
#include "tools/zelvan_ctl/utf8_path.h"

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

// vrpathreg matches the name as written; a registered spelling of the same
// folder (another case on Windows, a trailing separator) counts too, as
// SteamVR loads it from there.
bool IsRegistered(const std::vector<std::string> &drivers, const std::string &folder)
{
	for (const std::string &dir : drivers) {
		std::error_code error;
		if (WithoutTrailingSeparators(dir) == folder ||
		    (std::filesystem::equivalent(Utf8Path(dir), Utf8Path(folder), error) && !error))
			return true;
	}
	return false;
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
		if (std::filesystem::is_directory(Utf8Path(dir), error)) {
			runtime_dir = dir;
			break;
		}
	}
	const bool registered = IsRegistered(RegistryList(registry, "external_drivers"), folder);
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
	const std::string command = "\"" + EscapeControlBytes(vrpathreg) + "\" " + verb + " \"" + shown + "\"";
	std::string output;
	if (!RunTool(vrpathreg, {verb, folder}, output)) {
		std::fprintf(stderr, "zelvan-ctl: %s failed: %s\n", command.c_str(),
		             EscapeControlBytes(output.substr(0, output.find('\n'))).c_str());
		return 1;
	}
	std::printf("ran %s\n", command.c_str());
	return 0;
}

} // namespace zelvan::ctl
