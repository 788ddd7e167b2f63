// SampleRing: the sensor's recent raw readings, numbered, so that a client
// polling the control channel a few times a second can follow the stream
// without losing readings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace zelvan {

struct RingSample {
	uint32_t number = 0; // 1 for the first reading since the reader started
	uint16_t raw = 0;
	uint32_t ms = 0; // on the reader's clock
};

// Written by the reader thread, read by the runtime's thread; the lock is
// held only to copy fixed-size values, and nothing is allocated after
// construction.
class SampleRing {
public:
	// About 12 s at the fastest report rate (50 ms).
	static constexpr size_t kCapacity = 256;

	void Push(uint16_t raw, uint32_t ms);

	struct Copy {
		uint32_t newest = 0; // the number of the newest reading kept; 0 when none yet
		uint32_t lost = 0;   // readings after `after` that are no longer kept
		size_t count = 0;    // readings copied into `out`
	};
	// The readings numbered after `after`, oldest first, at most `capacity`.
	// `after` must not be ahead of the newest (the caller checks `newest`).
	Copy CopyAfter(uint32_t after, RingSample *out, size_t capacity) const;
	uint32_t Newest() const;

private:
	mutable std::mutex lock_;
	std::array<RingSample, kCapacity> slots_{};
	uint64_t pushed_ = 0; // numbers are its low 32 bits: they wrap after years
};

} // namespace zelvan
