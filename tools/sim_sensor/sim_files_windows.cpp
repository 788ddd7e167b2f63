// The simulated sensor's names on Windows, through the UTF-16 calls.
#include "sim_files.h"

#include "core/wide_text.h"

namespace zelvan::sim {

std::string EnvironmentValue(const char *name)
{
	return EnvironmentUtf8(name);
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	return zelvan::OpenUtf8File(path, mode);
}

} // namespace zelvan::sim
