// Frame pacing and frame-duration statistics.
#include "tools/host_sim/frame_timing.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace zelvan::host_sim {
namespace {

std::uint64_t Percentile(const std::vector<std::uint64_t>& sorted, double fraction) {
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

FrameTimeSummary SummarizeFrameTimes(std::vector<std::uint64_t> durations_us) {
  if (durations_us.empty()) return {};
  std::sort(durations_us.begin(), durations_us.end());
  return {durations_us.back(), Percentile(durations_us, 0.50), Percentile(durations_us, 0.99),
          Percentile(durations_us, 0.999)};
}

FramePacer::FramePacer(double rate_hz) {
  if (rate_hz > 0) {
    period_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate_hz));
  }
}

void FramePacer::WaitForNextFrame() {
  if (period_ == Clock::duration::zero()) return;
  const Clock::time_point now = Clock::now();
  if (!started_ || now > next_ + period_) {
    started_ = true;
    next_ = now + period_;
    return;
  }
  std::this_thread::sleep_until(next_);
  next_ += period_;
}

}  // namespace zelvan::host_sim
