// Names the simulated sensor reads from its environment and opens. Text
// inside is UTF-8; on Windows getenv and fopen hold the code page's guess at
// a name, so these go through UTF-16 (sim_files_posix.cpp,
// sim_files_windows.cpp).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace zelvan::sim {

// The variable's value, or "" when it is not set.
std::string EnvironmentValue(const char *name);

std::FILE *OpenUtf8File(const std::string &path, const char *mode);

// A UTF-8 name as the standard file streams take it.
inline std::filesystem::path Utf8Path(const std::string &utf8)
{
	return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

} // namespace zelvan::sim
