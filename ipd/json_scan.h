// Reading the runtime's path registry (openvrpaths.vrpath) as plain text:
// the first string of the array that follows a key, as a usable path; and
// telling a whole JSON text from one that was cut short.
#pragma once

#include <string>
#include <string_view>

namespace zelvan {

enum class PathStyle {
	Windows, // forward slashes become backslashes
	Posix,   // forward slashes stay: they are the separator
};

// The first string of the array after "key" in text, with doubled
// backslashes made single and the \uXXXX escapes of characters beyond ASCII
// (surrogate pairs too) as UTF-8; empty on any failure and for an empty
// string. An escaped quote still ends the value, and other escapes are
// copied as written.
std::string FindJsonStringValue(std::string_view text, const char *key, PathStyle style);
std::string FindJsonStringValue(std::string_view text, const char *key);

// One JSON object and nothing after it but white space: the top-level
// object closes, brackets and braces pair up outside strings. A file that a
// dying tool left cut short fails this; its values are not checked.
bool IsCompleteJsonObject(std::string_view text);

} // namespace zelvan
