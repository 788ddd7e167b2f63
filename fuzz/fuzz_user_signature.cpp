// Fuzz target: ParseUserSignature on any image the sensor's flash could hold.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sensor/sensor_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const zelvan::UserSignature sig = zelvan::ParseUserSignature(data, size);
	// The serials go into log lines, file paths and the console tool's input.
	if (std::memchr(sig.tracking_serial, '\0', sizeof(sig.tracking_serial)) == nullptr ||
	    std::memchr(sig.hmd_serial, '\0', sizeof(sig.hmd_serial)) == nullptr)
		__builtin_trap();
	return 0;
}
