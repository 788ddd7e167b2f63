// Where the simulated runtime is in its run (Init, a frame, Cleanup), readable from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace zelvan::host_sim {

enum class Phase : std::uint8_t { Init = 0, Frame = 1, Cleanup = 2 };

const char* PhaseName(Phase phase);

// Phase and frame number share one atomic word, so that a log call from the
// driver's sensor thread never sees the frame of one phase with another phase.
class RunState {
 public:
  struct Moment {
    Phase phase;
    std::uint64_t frame;  // 0 during Init, 1-based in frames, frames + 1 in Cleanup
  };

  RunState() : main_thread_(std::this_thread::get_id()) {}

  void Enter(Phase phase, std::uint64_t frame) {
    word_.store((frame << 2) | static_cast<std::uint64_t>(phase), std::memory_order_release);
  }

  Moment Now() const {
    const std::uint64_t word = word_.load(std::memory_order_acquire);
    return {static_cast<Phase>(word & 3u), word >> 2};
  }

  // The thread that built the simulator is the runtime's calling thread.
  bool OnMainThread() const { return std::this_thread::get_id() == main_thread_; }

 private:
  std::atomic<std::uint64_t> word_{0};
  std::thread::id main_thread_;
};

}  // namespace zelvan::host_sim
