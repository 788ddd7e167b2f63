// Reading the runtime's path registry (openvrpaths.vrpath) as plain text:
// the first string of the array that follows a key, as a usable path.
#pragma once

#include <string>
#include <string_view>

namespace zelvan {

enum class PathStyle {
	Windows, // forward slashes become backslashes
	Posix,   // forward slashes stay: they are the separator
};

// The first string of the array after "key" in text, with doubled
// backslashes made single; empty on any failure and for an empty string.
std::string FindJsonStringValue(std::string_view text, const char *key, PathStyle style);
std::string FindJsonStringValue(std::string_view text, const char *key);

} // namespace zelvan
