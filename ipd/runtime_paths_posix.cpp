// Runtime paths and files on POSIX.
#include "ipd/runtime_paths.h"

#include <cstdlib>

#include <fcntl.h>
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

std::FILE *OpenRegularFile(const std::string &path, bool)
{
	// O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
	const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return nullptr;
	struct stat info;
	if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
		close(fd);
		return nullptr;
	}
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
	std::FILE *file = fdopen(fd, "r");
	if (file == nullptr)
		close(fd);
	return file;
}

bool FileExists(const std::string &path)
{
	struct stat info;
	return stat(path.c_str(), &info) == 0;
}

} // namespace zelvan
