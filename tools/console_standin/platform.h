// The few things the console stand-in does differently on POSIX and Windows.
#pragma once

#include <string>

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

} // namespace zelvan::console_standin
