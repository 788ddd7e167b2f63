// IsSafeSerial: which serial numbers may become part of a path.
#include "ipd/serial_check.h"

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

} // namespace zelvan
