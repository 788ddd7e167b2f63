// The ring of recent readings.
#include "sensor/sample_ring.h"

#include <algorithm>

namespace zelvan {

void SampleRing::Push(uint16_t raw, uint32_t ms)
{
	std::lock_guard<std::mutex> guard(lock_);
	++pushed_;
	slots_[pushed_ % kCapacity] = RingSample{static_cast<uint32_t>(pushed_), raw, ms};
}

uint32_t SampleRing::Newest() const
{
	std::lock_guard<std::mutex> guard(lock_);
	return static_cast<uint32_t>(pushed_);
}

SampleRing::Copy SampleRing::CopyAfter(uint32_t after, RingSample *out, size_t capacity) const
{
	std::lock_guard<std::mutex> guard(lock_);
	Copy copy;
	copy.newest = static_cast<uint32_t>(pushed_);
	// Unsigned differences stay right across the numbers' wrap.
	const uint32_t pending = copy.newest - after;
	const uint32_t kept = static_cast<uint32_t>(std::min<uint64_t>({pushed_, kCapacity, pending}));
	copy.lost = pending - kept;
	const uint64_t first = pushed_ - kept + 1;
	for (; copy.count < capacity && copy.count < kept; ++copy.count)
		out[copy.count] = slots_[(first + copy.count) % kCapacity];
	return copy;
}

} // namespace zelvan
