// Replacements of the global operator new/delete that count, per thread,
// every allocation made in the benchmark binary.
#include "bench/alloc_counter.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace zelvan::bench {
namespace {

// Constant-initialised: touching it never allocates, so new cannot recurse.
thread_local AllocTally t_tally;

void *Allocate(std::size_t size, std::size_t alignment)
{
	++t_tally.calls;
	t_tally.bytes += size;
	if (size == 0)
		size = 1;
	void *p = nullptr;
	if (alignment <= alignof(std::max_align_t))
		p = std::malloc(size);
	else if (posix_memalign(&p, alignment, size) != 0)
		p = nullptr;
	return p;
}

void *AllocateOrThrow(std::size_t size, std::size_t alignment)
{
	void *p = Allocate(size, alignment);
	if (p == nullptr)
		throw std::bad_alloc();
	return p;
}

} // namespace

AllocTally ThreadAllocations()
{
	return t_tally;
}

} // namespace zelvan::bench

using zelvan::bench::Allocate;
using zelvan::bench::AllocateOrThrow;

void *operator new(std::size_t size)
{
	return AllocateOrThrow(size, 0);
}
void *operator new[](std::size_t size)
{
	return AllocateOrThrow(size, 0);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
	return Allocate(size, 0);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept
{
	return Allocate(size, 0);
}
void *operator new(std::size_t size, std::align_val_t alignment)
{
	return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment)
{
	return AllocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void *operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
	return Allocate(size, static_cast<std::size_t>(alignment));
}
void *operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t &) noexcept
{
	return Allocate(size, static_cast<std::size_t>(alignment));
}

void operator delete(void *p) noexcept
{
	std::free(p);
}
void operator delete[](void *p) noexcept
{
	std::free(p);
}
void operator delete(void *p, std::size_t) noexcept
{
	std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
	std::free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept
{
	std::free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
	std::free(p);
}
void operator delete(void *p, std::align_val_t) noexcept
{
	std::free(p);
}
void operator delete[](void *p, std::align_val_t) noexcept
{
	std::free(p);
}
void operator delete(void *p, std::size_t, std::align_val_t) noexcept
{
	std::free(p);
}
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept
{
	std::free(p);
}
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept
{
	std::free(p);
}
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept
{
	std::free(p);
}
