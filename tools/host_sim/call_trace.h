// The ordered record of every runtime call the driver made, written out as the run's JSON trace.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/host_sim/run_state.h"

namespace zelvan::host_sim {

// Trace objects keep their keys in insertion order, so a reader sees "seq",
// "phase", "frame" ... before the call's own fields.
using TraceJson = nlohmann::ordered_json;

// A C string argument as the driver passed it: its text, or null for a null pointer.
inline TraceJson TraceText(const char* text) { return text ? TraceJson(text) : TraceJson(nullptr); }

class CallTrace {
 public:
  // With quiet_polls, empty event polls and queries that repeat their last
  // answer are left out, so that long runs give traces of a sensible size.
  CallTrace(const RunState& run, bool quiet_polls);

  // Records one call with its arguments and results (an object, may be empty).
  void Record(std::string_view interface, std::string_view call, TraceJson details);

  // A read-only query: under quiet_polls it is dropped when the previous call
  // with the same repeat_key gave exactly the same details.
  void RecordQuery(std::string_view interface, std::string_view call, const std::string& repeat_key,
                   TraceJson details);

  // An event poll that found the queue empty: dropped under quiet_polls.
  void RecordEmptyPoll(std::string_view interface, std::string_view call, TraceJson details);

  // A driver log message: a "Log" call and an entry of the log list, at the
  // moment the caller also prints it with.
  void RecordLog(std::string_view interface, std::string_view text, const RunState::Moment& now);

  TraceJson Calls() const;
  TraceJson Log() const;
  std::uint64_t Dropped() const;

 private:
  void AppendLocked(std::string_view interface, std::string_view call, TraceJson details,
                    const RunState::Moment& now);

  const RunState& run_;
  const bool quiet_polls_;
  mutable std::mutex mutex_;
  TraceJson calls_ = TraceJson::array();
  TraceJson log_ = TraceJson::array();
  std::map<std::string, TraceJson> last_answers_;
  std::uint64_t dropped_ = 0;
};

}  // namespace zelvan::host_sim
