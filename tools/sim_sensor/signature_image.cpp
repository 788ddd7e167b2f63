// Encoding of the flash image's records.
#include "signature_image.h"

#include <algorithm>

namespace zelvan::sim {

uint8_t RecordCrc8(const uint8_t *data, size_t length)
{
	uint8_t crc = 0xFF;
	for (size_t i = 0; i < length; ++i) {
		crc ^= data[i];
		for (int bit = 0; bit < 8; ++bit)
			crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
	}
	return crc;
}

bool ImageBuilder::AddRecord(uint8_t tag, const std::vector<uint8_t> &value, bool corrupt)
{
	if (value.size() > 255)
		return false;
	std::vector<uint8_t> record{tag, static_cast<uint8_t>(value.size())};
	record.insert(record.end(), value.begin(), value.end());
	const uint8_t crc = RecordCrc8(record.data(), record.size());
	// Any other value would do; flipping every bit can never match.
	record.push_back(corrupt ? static_cast<uint8_t>(~crc) : crc);
	return AddRaw(record);
}

bool ImageBuilder::AddRaw(const std::vector<uint8_t> &bytes)
{
	if (bytes_.size() + bytes.size() > kImageSize)
		return false;
	bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
	return true;
}

Image ImageBuilder::Finish(bool end_marker, uint8_t fill) const
{
	Image image;
	image.fill(fill);
	std::copy(bytes_.begin(), bytes_.end(), image.begin());
	if (end_marker && bytes_.size() < kImageSize)
		image[bytes_.size()] = kEndTag;
	return image;
}

} // namespace zelvan::sim
