// Text inside the program is UTF-8; where it crosses into Windows (paths,
// environment values, command lines) it goes through these two, into and
// out of the wide (...W) calls. Windows builds only.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zelvan {

// UTF-8 as UTF-16. Empty for empty text and for text that is not UTF-8, which
// callers treat as a name they cannot use rather than guess at.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 from Windows as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// The program's words as UTF-8, its name first; argv's when the command line
// cannot be read (command_line_windows.cpp).
std::vector<std::string> CommandLineUtf8(int argc, char **argv);

// The environment variable's value (the wide environment), "" when unset.
std::string EnvironmentUtf8(const char *name);

// _wfopen of a UTF-8 path; null when the path is not UTF-8.
std::FILE *OpenUtf8File(const std::string &path, const char *mode);

// Pure ASCII: the only text the console tool's input is sure to read as
// written, whatever code page it runs in.
bool IsAscii(std::string_view text);

} // namespace zelvan
