// The path registry read with a JSON parser, and changed only through the
// runtime's vrpathreg, which owns it.
#include "tools/zelvan_ctl/doctor/path_registry.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

RegistryPaths ReadRegistryPaths(const std::string &key, const std::optional<std::string> &registry_file)
{
	RegistryPaths result;
	std::string registry = registry_file.value_or("");
	if (!registry_file) {
		const RegistryLocation location = FindPathRegistry();
		if (!location.found) {
			result.error = location.missing_var + " is not set, so SteamVR's path registry cannot be found";
			return result;
		}
		registry = location.path;
	}
	const std::string shown = EscapeControlBytes(registry);
	if (!FileExists(registry)) {
		result.error = "no path registry at " + shown;
		return result;
	}
	const nlohmann::json json = ReadJsonFile(registry);
	if (!json.is_object()) {
		result.error = shown + " is not a JSON object";
		return result;
	}
	for (const std::string &path : RegistryList(json, key.c_str())) {
		if (path.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
			result = {{}, shown + ": a path in " + key + " holds a line break or NUL: " + EscapeControlBytes(path)};
			return result;
		}
		result.paths.push_back(path);
	}
	return result;
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

// One line of what was done or found, said at once.
void Say(RegistryChange &change, const std::function<void(const std::string &)> &as_said, std::string line)
{
	change.said.push_back(std::move(line));
	if (as_said)
		as_said(change.said.back());
}

bool RunVrpathreg(const std::string &vrpathreg, const char *verb, const std::string &folder, RegistryChange &change,
                  const std::function<void(const std::string &)> &as_said)
{
	const std::string command =
		"\"" + EscapeControlBytes(vrpathreg) + "\" " + verb + " \"" + EscapeControlBytes(folder) + "\"";
	std::string output;
	if (!RunTool(vrpathreg, {verb, folder}, output)) {
		change.error = command + " failed: " + EscapeControlBytes(output.substr(0, output.find('\n')));
		return false;
	}
	Say(change, as_said, "ran " + command);
	return true;
}

} // namespace

RegistryChange RegisterFolder(const std::string &given, bool add,
                              const std::function<void(const std::string &line)> &as_said)
{
	RegistryChange change;
	const char *verb = add ? "adddriver" : "removedriver";
	const std::string folder = WithoutTrailingSeparators(given);
	const std::string shown = EscapeControlBytes(folder);
	const RegistryLocation location = FindPathRegistry();
	nlohmann::json registry;
	if (location.found && FileExists(location.path)) {
		registry = ReadJsonFile(location.path);
		if (!registry.is_object()) {
			change.error = EscapeControlBytes(location.path) +
			               " is not a JSON object; start SteamVR once so that it writes it again";
			return change;
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
		Say(change, as_said, shown + " is already registered with SteamVR");
		return change;
	}
	if (!add && !registered && !vrpathreg.empty()) {
		Say(change, as_said, shown + " is not registered with SteamVR");
		return change;
	}
	if (vrpathreg.empty()) {
		const std::string hint = runtime_dir.empty() ? kVrpathregHint : JoinUtf8(runtime_dir, kVrpathregInRuntime);
		const std::string where = location.found ? EscapeControlBytes(location.path) : "SteamVR's path registry";
		Say(change, as_said,
		    "SteamVR not found (no runtime with " + std::string(kVrpathregInRuntime) + " in " + where + "); run:\n  \"" +
		        EscapeControlBytes(hint) + "\" " + verb + " \"" + shown + "\"");
		return change;
	}
	if (add) {
		RunVrpathreg(vrpathreg, verb, folder, change, as_said);
		return change;
	}
	// Each spelling in turn, as registered, until none is left: SteamVR
	// would load the folder from any of them.
	std::vector<std::string> tried;
	for (std::vector<std::string> left = Registrations(registry, folder); !left.empty();
	     left = Registrations(ReadJsonFile(location.path), folder)) {
		const auto next = std::find_if(left.begin(), left.end(), [&](const std::string &dir) {
			return std::find(tried.begin(), tried.end(), dir) == tried.end();
		});
		if (next == left.end()) {
			change.error = shown + " is still registered with SteamVR as " + EscapeControlBytes(left.front());
			return change;
		}
		tried.push_back(*next);
		if (!RunVrpathreg(vrpathreg, verb, *next, change, as_said))
			return change;
	}
	return change;
}

} // namespace zelvan::ctl
