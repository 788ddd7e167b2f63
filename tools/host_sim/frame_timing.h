// Frame pacing at the runtime's rate and the frame-duration statistics of a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace zelvan::host_sim {

struct FrameTimeSummary {
  std::uint64_t max = 0;
  std::uint64_t p50 = 0;
  std::uint64_t p99 = 0;
  std::uint64_t p999 = 0;
};

// Nearest-rank percentiles of frame durations in microseconds; all 0 for no frames.
FrameTimeSummary SummarizeFrameTimes(std::vector<std::uint64_t> durations_us);

// Sleeps until each frame's start on a steady clock. A frame that overran by
// more than a whole period restarts the schedule, rather than being followed
// by a burst of frames to catch up.
class FramePacer {
 public:
  explicit FramePacer(double rate_hz);  // 0: no waiting at all

  void WaitForNextFrame();

 private:
  using Clock = std::chrono::steady_clock;
  Clock::duration period_{};
  Clock::time_point next_{};
  bool started_ = false;
};

}  // namespace zelvan::host_sim
