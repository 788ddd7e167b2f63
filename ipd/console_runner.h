// Running the runtime's console tool with redirected standard streams: two
// command lines in, one read of its output, then "exit" and a bounded wait.
#pragma once

#include <string>

namespace zelvan {

// The tool's file name on this platform, as the log lines name it.
extern const char *const kConsoleToolName;

struct ConsoleRun {
	// The tool started, both commands were written whole and the first read
	// of its output returned something.
	bool ok = false;
	// The tool had to be killed: it printed nothing within the read bound or
	// did not exit after "exit" within the wait.
	bool terminated = false;
};

// Each command is one whole line including its CR LF. Blocks the caller for
// at most about twice ten seconds, whatever the tool does.
ConsoleRun RunLighthouseConsole(const std::string &exe_path, const std::string &first_command,
                                const std::string &second_command);

} // namespace zelvan
