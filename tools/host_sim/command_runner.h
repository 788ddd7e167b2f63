// Shell commands a scenario starts alongside the driver (a control client, a sensor script ...).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/host_sim/call_trace.h"

namespace zelvan::host_sim {

class CommandRunner {
 public:
  CommandRunner();

  // Runs command through the shell on a thread of its own and returns at
  // once; the command's output goes to this process's stdout.
  void Start(const std::string& command, std::uint64_t frame);
  // Waits for the started commands, at most bound; returns how many still run.
  std::size_t WaitAll(std::chrono::milliseconds bound);
  // [{"command", "frame", "exit_status" (null while running), "seconds"}]
  TraceJson Results() const;

 private:
  struct Shared;
  // Shared with the command threads, which may outlive the runner.
  std::shared_ptr<Shared> shared_;
};

}  // namespace zelvan::host_sim
