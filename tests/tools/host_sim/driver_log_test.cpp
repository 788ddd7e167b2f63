// Tests of how driver log messages become output lines.
#include "tools/host_sim/driver_log.h"

#include <gtest/gtest.h>

namespace zelvan::host_sim {
namespace {

TEST(FormatLogLinesTest, OneOutputLinePerMessageLine) {
  const struct {
    std::uint64_t frame;
    const char* text;
    const char* expected;
  } cases[] = {
      {12, "HID: Device opened/reconnected\n", "[frame    12] HID: Device opened/reconnected\n"},
      {0, "no newline", "[frame     0] no newline\n"},
      {3, "a\nb\n", "[frame     3] a\n[frame     3] b\n"},
      {3, "a\n\nb", "[frame     3] a\n[frame     3] \n[frame     3] b\n"},
      {3, "windows\r\n", "[frame     3] windows\n"},
      {3, "", "[frame     3] \n"},
      {123456, "x\n", "[frame 123456] x\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLogLines(c.frame, c.text), c.expected) << c.text;
}

TEST(DriverLogTest, RecordsTheFrameOfEachMessage) {
  RunState run;
  CallTrace trace{run, false};
  DriverLog log{trace, run, false};
  run.Enter(Phase::Frame, 7);
  log.Log("IPD: x\n");
  const TraceJson entries = trace.Log();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]["frame"], 7);
  EXPECT_EQ(entries[0]["text"], "IPD: x\n");
  EXPECT_EQ(trace.Calls()[0]["phase"], "frame");
}

}  // namespace
}  // namespace zelvan::host_sim
