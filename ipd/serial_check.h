// Serial numbers end up in file paths and in the console tool's input: only
// plain ones are let through.
#pragma once

#include <string>

namespace zelvan {

// ASCII letters, digits, '-', '_' and '.', 1 to 63 characters, not "." or "..".
bool IsSafeSerial(const std::string &serial);

} // namespace zelvan
