// Escaping outside text (paths, serials, users' commands) before it reaches
// a log line or a terminal; shared by the driver and its tools.
#pragma once

#include <cstdint>
#include <string>

namespace zelvan {

// The serial for a log line, with control and non-ASCII bytes as \xNN.
std::string EscapeForLog(const std::string &text);

// A user's text for a log line or a terminal: control bytes (C0, DEL, C1 as
// UTF-8 and bytes 0x80..0x9F outside UTF-8) become \xNN, so that a line end
// cannot start a log line of its own and a reply cannot drive the terminal.
// Other text, UTF-8 or not, stays as written.
std::string EscapeControlBytes(const std::string &text);

// CODE, a Unicode scalar value, appended to OUT as UTF-8: for \u escapes.
void AppendUtf8(std::string &out, uint32_t code);

} // namespace zelvan
