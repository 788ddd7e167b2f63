// The simulated sensor's names on Windows, through the UTF-16 calls.
#include "sim_files.h"

#include <cstdlib>

#include "core/wide_text.h"

namespace zelvan::sim {

std::string EnvironmentValue(const char *name)
{
	const wchar_t *value = _wgetenv(Utf8ToWide(name).c_str());
	return value != nullptr ? WideToUtf8(value) : "";
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	const std::wstring wide_path = Utf8ToWide(path);
	if (wide_path.empty())
		return nullptr;
	return _wfopen(wide_path.c_str(), Utf8ToWide(mode).c_str());
}

} // namespace zelvan::sim
