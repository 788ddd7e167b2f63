// Running the runtime's console tool with redirected standard streams: two
// command lines in, one read of its output, then "exit" and a bounded wait.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>

namespace zelvan {

// The tool's file name on this platform, as the log lines name it.
extern const char *const kConsoleToolName;

using ConsoleClock = std::chrono::steady_clock;

struct ConsoleRun {
	// The tool started, both commands were written whole and the first read
	// of its output returned something.
	bool ok = false;
	// The tool had to be killed: it printed nothing within the read bound or
	// did not exit after "exit" within the wait, or the deadline came first.
	bool terminated = false;
	// It was the deadline that ended the run. The clock may still read a
	// moment before the deadline then, since waits are whole milliseconds.
	bool out_of_time = false;
};

// Each command is one whole line including its CR LF. Blocks the caller for
// at most about twice ten seconds, whatever the tool does, and never past
// the deadline: the tool and every process it started are killed there.
// With `output`, what the tool printed until it ended is appended to it (at
// most a megabyte), for a caller that reads the tool's own report.
ConsoleRun RunLighthouseConsole(const std::string &exe_path, const std::string &first_command,
                                const std::string &second_command,
                                ConsoleClock::time_point deadline = ConsoleClock::time_point::max(),
                                std::string *output = nullptr);

// How much of the tool's output a caller is given.
inline constexpr size_t kMaxConsoleOutput = size_t{1} << 20;

inline void KeepOutput(std::string *output, const char *bytes, size_t n)
{
	if (output != nullptr && output->size() < kMaxConsoleOutput)
		output->append(bytes, std::min(n, kMaxConsoleOutput - output->size()));
}

// What is left of a wait of bound_ms once the deadline is taken into account.
inline long long WaitMs(long long bound_ms, ConsoleClock::time_point deadline)
{
	const auto now = ConsoleClock::now();
	if (deadline <= now)
		return 0;
	const long long left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
	return std::min(bound_ms, left);
}

} // namespace zelvan
