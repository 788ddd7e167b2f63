// The runtime's driver log: prints each line with its frame number, optionally into a log file too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include <openvr_driver.h>

#include "tools/host_sim/call_trace.h"
#include "tools/host_sim/run_state.h"

namespace zelvan::host_sim {

// One "[frame    12] text\n" per line of text; a final newline ends the last
// line rather than starting an empty one, and a missing one is added.
std::string FormatLogLines(std::uint64_t frame, std::string_view text, std::string_view line_prefix = {});

class DriverLog final : public vr::IVRDriverLog {
 public:
  DriverLog(CallTrace& trace, const RunState& run, bool print);
  ~DriverLog();
  DriverLog(const DriverLog&) = delete;
  DriverLog& operator=(const DriverLog&) = delete;

  // Lines also go to path, each after the wall-clock time, as in a runtime's log file.
  bool OpenFile(const std::string& path, std::string* error);
  // The simulator's own remarks (scenario steps) in the same stream; not traced.
  void Note(std::uint64_t frame, std::string_view text);

  // Called from the driver's frame thread and from its sensor thread.
  void Log(const char* pchLogMessage) override;

 private:
  void PrintLocked(const std::string& lines);

  CallTrace& trace_;
  const RunState& run_;
  const bool print_;
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace zelvan::host_sim
