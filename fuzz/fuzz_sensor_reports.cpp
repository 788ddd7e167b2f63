// Fuzz target: what the reader makes of any report the sensor sends, as a
// sample (DecodeSample) and as a signature block reply (CopySignatureBlock).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sensor/sensor_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	// hid_read_timeout never returns more than the 64-byte buffer; longer
	// inputs still must not be read past their end.
	const int length = static_cast<int>(size > 4096 ? 4096 : size);

	const std::optional<uint16_t> sample = zelvan::DecodeSample(data, length);
	if (sample && (length < 6 || data[0] != zelvan::kReportSample || *sample != data[4] * 256 + data[5]))
		__builtin_trap();

	// The slot on the heap by itself, so that ASan sees a byte written past it.
	const auto slot = std::make_unique<uint8_t[]>(zelvan::kSignatureBlockSize);
	const size_t copied = zelvan::CopySignatureBlock(data, length, slot.get());
	if (copied > zelvan::kSignatureBlockSize || (length <= 2 && copied != 0) ||
	    (length > 2 && copied > static_cast<size_t>(length) - 2))
		__builtin_trap();
	return 0;
}
