// Serial numbers end up in file paths and in the console tool's input: only
// plain ones are let through.
#pragma once

#include <string>

namespace zelvan {

// ASCII letters, digits, '-', '_' and '.', 1 to 63 characters, not "." or "..".
bool IsSafeSerial(const std::string &serial);

// The serial for a log line, with control and non-ASCII bytes as \xNN.
std::string EscapeForLog(const std::string &text);

// A path for a log line: only control bytes become \xNN, so that a line end
// inside a user's text cannot start a log line of its own.
std::string EscapeControlBytes(const std::string &text);

} // namespace zelvan
