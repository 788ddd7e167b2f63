// The sensor's 512-byte flash image of tagged, checksummed calibration records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan::sim {

inline constexpr size_t kImageSize = 512;
inline constexpr size_t kBlockSize = 32;
inline constexpr size_t kBlockCount = kImageSize / kBlockSize;
inline constexpr uint8_t kEndTag = 0xFF;

using Image = std::array<uint8_t, kImageSize>;

// The firmware's record checksum: poly 0x07, init 0xFF, MSB first, no xorout.
uint8_t RecordCrc8(const uint8_t *data, size_t length);

// Lays records out from offset 0 as the firmware's writer does. Every append
// fails (returns false, image unchanged) when the bytes would not fit.
class ImageBuilder {
public:
	// tag, length, value, checksum; `corrupt` stores a checksum that is off.
	bool AddRecord(uint8_t tag, const std::vector<uint8_t> &value, bool corrupt = false);
	// Bytes exactly as given, for lengths that lie or records cut short.
	bool AddRaw(const std::vector<uint8_t> &bytes);
	size_t size() const { return bytes_.size(); }

	// The image: the records, then the end tag when asked for and there is
	// room, then `fill` (0xFF, erased flash) up to 512 bytes.
	Image Finish(bool end_marker, uint8_t fill) const;

private:
	std::vector<uint8_t> bytes_;
};

} // namespace zelvan::sim
