// Serial numbers end up in file paths and in the console tool's input: only
// plain ones are let through.
#pragma once

#include <string>

namespace zelvan {

// ASCII letters, digits, '-', '_' and '.', 1 to 63 characters, not "." or "..".
bool IsSafeSerial(const std::string &serial);

// The serial for a log line, with control and non-ASCII bytes as \xNN.
std::string EscapeForLog(const std::string &text);

// A user's text for a log line or a terminal: control bytes (C0, DEL and the
// UTF-8 forms of C1) become \xNN, so that a line end cannot start a log line
// of its own and a reply cannot drive the terminal.
std::string EscapeControlBytes(const std::string &text);

} // namespace zelvan
