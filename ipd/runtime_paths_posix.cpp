// Runtime paths and files on POSIX.
#include "ipd/runtime_paths.h"

#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace zelvan {

const PathStyle kNativePathStyle = PathStyle::Posix;
const char kPathSeparator = '/';

RegistryLocation FindPathRegistry()
{
	RegistryLocation location;
	const char *config_home = std::getenv("XDG_CONFIG_HOME");
	if (config_home != nullptr && config_home[0] != '\0') {
		location.path = std::string(config_home) + "/openvr/openvrpaths.vrpath";
	} else {
		const char *home = std::getenv("HOME");
		if (home == nullptr || home[0] == '\0') {
			location.missing_var = "HOME";
			return location;
		}
		location.path = std::string(home) + "/.config/openvr/openvrpaths.vrpath";
	}
	location.found = true;
	return location;
}

bool FileExists(const std::string &path)
{
	struct stat info;
	return stat(path.c_str(), &info) == 0;
}

} // namespace zelvan
