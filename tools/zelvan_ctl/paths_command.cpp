// zelvan-ctl paths: one path a line, or nothing printed at all.
#include "tools/zelvan_ctl/paths_command.h"

#include <cstdio>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/doctor.h"

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

} // namespace zelvan::ctl
