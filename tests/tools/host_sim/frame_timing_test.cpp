// Tests of the frame-duration statistics written to the trace.
#include "tools/host_sim/frame_timing.h"

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

TEST(SummarizeFrameTimesTest, NearestRankPercentiles) {
  std::vector<std::uint64_t> thousand;
  for (std::uint64_t i = 1000; i >= 1; --i) thousand.push_back(i);
  const struct {
    const char* name;
    std::vector<std::uint64_t> durations;
    FrameTimeSummary expected;
  } cases[] = {
      {"none", {}, {0, 0, 0, 0}},
      {"one", {42}, {42, 42, 42, 42}},
      {"two", {10, 30}, {30, 10, 30, 30}},
      {"thousand", thousand, {1000, 500, 990, 999}},
  };
  for (const auto& c : cases) {
    const FrameTimeSummary s = SummarizeFrameTimes(c.durations);
    EXPECT_EQ(s.max, c.expected.max) << c.name;
    EXPECT_EQ(s.p50, c.expected.p50) << c.name;
    EXPECT_EQ(s.p99, c.expected.p99) << c.name;
    EXPECT_EQ(s.p999, c.expected.p999) << c.name;
  }
}

}  // namespace
}  // namespace zelvan::host_sim
