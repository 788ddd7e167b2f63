// The simulated sensor's names on POSIX: bytes, as they are.
#include "sim_files.h"

#include <cstdlib>

namespace zelvan::sim {

std::string EnvironmentValue(const char *name)
{
	const char *value = std::getenv(name);
	return value != nullptr ? value : "";
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	return std::fopen(path.c_str(), mode);
}

} // namespace zelvan::sim
