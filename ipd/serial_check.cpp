// IsSafeSerial and the escaping of refused serials for the log.
#include "ipd/serial_check.h"

#include <cstdio>

namespace zelvan {

bool IsSafeSerial(const std::string &serial)
{
	if (serial.empty() || serial.size() > 63 || serial == "." || serial == "..")
		return false;
	for (unsigned char c : serial) {
		const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
		                c == '_' || c == '.';
		if (!ok)
			return false;
	}
	return true;
}

std::string EscapeForLog(const std::string &text)
{
	std::string out;
	for (unsigned char c : text) {
		if (c < 0x20 || c >= 0x7F || c == '\\' || c == '"') {
			char escaped[8];
			std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
			out += escaped;
		} else {
			out += static_cast<char>(c);
		}
	}
	return out;
}

std::string EscapeControlBytes(const std::string &text)
{
	std::string out;
	for (unsigned char c : text) {
		if (c < 0x20 || c == 0x7F) {
			char escaped[8];
			std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
			out += escaped;
		} else {
			out += static_cast<char>(c);
		}
	}
	return out;
}

} // namespace zelvan
