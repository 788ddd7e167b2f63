// Shell commands started by a scenario, each on a detached thread.
#include "tools/host_sim/command_runner.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "tools/host_sim/platform.h"

namespace zelvan::host_sim {

struct CommandRunner::Shared {
  std::mutex mutex;
  std::condition_variable finished;
  std::size_t running = 0;
  TraceJson results = TraceJson::array();
};

CommandRunner::CommandRunner() : shared_(std::make_shared<Shared>()) {}

void CommandRunner::Start(const std::string& command, std::uint64_t frame) {
  std::size_t index;
  {
    std::lock_guard lock(shared_->mutex);
    index = shared_->results.size();
    shared_->results.push_back(
        {{"command", command}, {"frame", frame}, {"exit_status", nullptr}, {"seconds", nullptr}});
    ++shared_->running;
  }
  std::fflush(stdout);  // what the simulator printed so far comes before the command's output
  std::thread([shared = shared_, command, index] {
    const auto start = std::chrono::steady_clock::now();
    const int status = CommandExitStatus(std::system(command.c_str()));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::lock_guard lock(shared->mutex);
    shared->results[index]["exit_status"] = status;
    shared->results[index]["seconds"] = took.count();
    --shared->running;
    shared->finished.notify_all();
  }).detach();
}

std::size_t CommandRunner::WaitAll(std::chrono::milliseconds bound) {
  std::unique_lock lock(shared_->mutex);
  shared_->finished.wait_for(lock, bound, [this] { return shared_->running == 0; });
  return shared_->running;
}

TraceJson CommandRunner::Results() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->results;
}

}  // namespace zelvan::host_sim
