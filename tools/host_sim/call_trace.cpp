// The ordered record of every runtime call the driver made.
#include "tools/host_sim/call_trace.h"

#include <utility>

namespace zelvan::host_sim {

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Init: return "init";
    case Phase::Frame: return "frame";
    case Phase::Cleanup: return "cleanup";
  }
  return "unknown";
}

CallTrace::CallTrace(const RunState& run, bool quiet_polls) : run_(run), quiet_polls_(quiet_polls) {}

void CallTrace::Record(std::string_view interface, std::string_view call, TraceJson details) {
  const RunState::Moment now = run_.Now();
  std::lock_guard lock(mutex_);
  AppendLocked(interface, call, std::move(details), now);
}

void CallTrace::RecordQuery(std::string_view interface, std::string_view call, const std::string& repeat_key,
                            TraceJson details) {
  const RunState::Moment now = run_.Now();
  std::lock_guard lock(mutex_);
  if (quiet_polls_) {
    auto [it, inserted] = last_answers_.try_emplace(repeat_key, details);
    if (!inserted) {
      if (it->second == details) {
        ++dropped_;
        return;
      }
      it->second = details;
    }
  }
  AppendLocked(interface, call, std::move(details), now);
}

void CallTrace::RecordEmptyPoll(std::string_view interface, std::string_view call, TraceJson details) {
  const RunState::Moment now = run_.Now();
  std::lock_guard lock(mutex_);
  if (quiet_polls_) {
    ++dropped_;
    return;
  }
  AppendLocked(interface, call, std::move(details), now);
}

void CallTrace::RecordLog(std::string_view interface, std::string_view text, const RunState::Moment& now) {
  std::lock_guard lock(mutex_);
  AppendLocked(interface, "Log", TraceJson{{"text", text}}, now);
  log_.push_back(TraceJson{{"frame", now.frame}, {"text", text}});
}

void CallTrace::AppendLocked(std::string_view interface, std::string_view call, TraceJson details,
                             const RunState::Moment& now) {
  TraceJson entry = {
      {"seq", calls_.size() + 1},
      {"phase", PhaseName(now.phase)},
      {"frame", now.frame},
      {"thread", run_.OnMainThread() ? "main" : "other"},
      {"interface", interface},
      {"call", call},
  };
  if (details.is_object()) {
    for (auto& [key, value] : details.items()) entry[key] = std::move(value);
  }
  calls_.push_back(std::move(entry));
}

TraceJson CallTrace::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

TraceJson CallTrace::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::uint64_t CallTrace::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

}  // namespace zelvan::host_sim
