// The ring of recent readings: what a poll gets back after a given number.
#include <gtest/gtest.h>

#include <vector>

#include "sensor/sample_ring.h"

namespace zelvan {
namespace {

TEST(SampleRing, APollGetsTheReadingsAfterItsNumberAndCountsTheLostOnes)
{
	constexpr uint32_t kCap = SampleRing::kCapacity;
	struct Case {
		uint32_t pushed, after;
		size_t room;
		uint32_t newest, lost, first;
		size_t count;
	};
	const Case cases[] = {
		{0, 0, 10, 0, 0, 0, 0},                       // nothing yet
		{5, 0, 10, 5, 0, 1, 5},                       // everything from the start
		{5, 3, 10, 5, 0, 4, 2},
		{5, 5, 10, 5, 0, 0, 0},                       // up to date
		{40, 0, 10, 40, 0, 1, 10},                    // as many as there is room for
		{kCap, 0, kCap, kCap, 0, 1, kCap},            // exactly full
		{kCap + 44, 0, 8, kCap + 44, 44, 45, 8},      // the oldest are gone
		{kCap + 44, 44, 8, kCap + 44, 0, 45, 8},      // just in time
		{3 * kCap, kCap, 4, 3 * kCap, kCap, 2 * kCap + 1, 4},
	};
	for (const Case &c : cases) {
		SampleRing ring;
		for (uint32_t i = 1; i <= c.pushed; ++i)
			ring.Push(static_cast<uint16_t>(i * 7), i * 50);
		std::vector<RingSample> out(c.room);
		const SampleRing::Copy copy = ring.CopyAfter(c.after, out.data(), out.size());
		SCOPED_TRACE(testing::Message() << c.pushed << " pushed, after " << c.after);
		EXPECT_EQ(copy.newest, c.newest);
		EXPECT_EQ(copy.lost, c.lost);
		ASSERT_EQ(copy.count, c.count);
		for (size_t i = 0; i < copy.count; ++i) {
			const uint32_t number = c.first + static_cast<uint32_t>(i);
			EXPECT_EQ(out[i].number, number);
			EXPECT_EQ(out[i].raw, static_cast<uint16_t>(number * 7));
			EXPECT_EQ(out[i].ms, number * 50);
		}
	}
}

} // namespace
} // namespace zelvan
