// The runtime's driver log, safe to call from several threads.
#include "tools/host_sim/driver_log.h"
#include "tools/host_sim/platform.h"

#include <chrono>
#include <ctime>

namespace zelvan::host_sim {
namespace {

constexpr const char* kInterface = "IVRDriverLog_001";

// std::localtime shares one buffer; callers hold the log's mutex.
std::string WallClockNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[64] = "";
  if (const std::tm* local = std::localtime(&seconds)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  char stamped[96];
  std::snprintf(stamped, sizeof stamped, "%s.%03d - ", text, static_cast<int>(millis));
  return stamped;
}

}  // namespace

std::string FormatLogLines(std::uint64_t frame, std::string_view text, std::string_view line_prefix) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "[frame %5llu] ", static_cast<unsigned long long>(frame));
  std::string out;
  do {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.append(line_prefix).append(prefix).append(line).append("\n");
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  } while (!text.empty());
  return out;
}

DriverLog::DriverLog(CallTrace& trace, const RunState& run, bool print) : trace_(trace), run_(run), print_(print) {}

DriverLog::~DriverLog() {
  if (file_) std::fclose(file_);
}

bool DriverLog::OpenFile(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = OpenUtf8File(path, "w");
  if (!file_) {
    *error = path + ": cannot be written";
    return false;
  }
  return true;
}

void DriverLog::Note(std::uint64_t frame, std::string_view text) {
  std::lock_guard lock(mutex_);
  PrintLocked(FormatLogLines(frame, text));
}

void DriverLog::Log(const char* pchLogMessage) {
  const std::string_view text = pchLogMessage ? pchLogMessage : "";
  const RunState::Moment now = run_.Now();
  trace_.RecordLog(kInterface, text, now);
  std::lock_guard lock(mutex_);
  PrintLocked(FormatLogLines(now.frame, text));
  if (file_) {
    const std::string stamped = FormatLogLines(now.frame, text, WallClockNow());
    std::fwrite(stamped.data(), 1, stamped.size(), file_);
    std::fflush(file_);
  }
}

void DriverLog::PrintLocked(const std::string& lines) {
  if (!print_) return;
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  std::fflush(stdout);
}

}  // namespace zelvan::host_sim
