// The few things the console stand-in does differently on POSIX and Windows.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zelvan::console_standin {

// Standard input in binary mode, so that a CR LF typed by the driver reaches
// the log as it was sent; a reader that went away must not kill us.
void PrepareStandardStreams();

// Ends the process abnormally, without cleanup, as a crashing tool would, but
// without a crash dialog or a core file.
[[noreturn]] void CrashNow();

// Starts this program again as "--beat FILE", keeping our standard streams,
// as a tool's helper process would.
bool StartBeatingChild(const std::string &beat_file);

// Under Wine an absolute Unix path ("/tmp/store") becomes "Z:\tmp\store", so
// that Linux scripts can hand the same paths to both builds. Otherwise as given.
std::string NativePath(const std::string &path);

// Text inside the stand-in is UTF-8. On Windows argv, getenv and fopen hold
// the code page's guess at a name, so these go through UTF-16.
std::vector<std::string> ProgramArguments(int argc, char **argv);
std::string Environment(const char *name);
std::FILE *OpenUtf8File(const std::string &path, const char *mode);

// A UTF-8 name as a path and back (through char8_t: a plain std::string is
// read in the ANSI code page on Windows).
inline std::filesystem::path Utf8Path(const std::string &utf8)
{
	return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8String(const std::filesystem::path &path)
{
	const std::u8string text = path.u8string();
	return std::string(text.begin(), text.end());
}

} // namespace zelvan::console_standin
