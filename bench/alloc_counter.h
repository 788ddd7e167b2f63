// Counting heap allocations: the benchmark binary replaces the global
// operator new and delete, and keeps one tally per thread.
#pragma once

#include <cstdint>

namespace zelvan::bench {

struct AllocTally {
	uint64_t calls = 0;
	uint64_t bytes = 0;
};

// Everything operator new handed out on the calling thread so far. Per
// thread, so the reader thread's work is not charged to RunFrame.
AllocTally ThreadAllocations();

inline AllocTally operator-(const AllocTally &a, const AllocTally &b)
{
	return AllocTally{a.calls - b.calls, a.bytes - b.bytes};
}

} // namespace zelvan::bench
