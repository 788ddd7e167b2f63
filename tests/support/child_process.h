// Starting the project's programs from tests, on both platforms, with their
// output collected and a bounded wait.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvan::test {

class ChildProcess {
public:
	ChildProcess();
	~ChildProcess(); // kills a child that is still running
	ChildProcess(const ChildProcess &) = delete;
	ChildProcess &operator=(const ChildProcess &) = delete;

	// argv[0] is the program's path. `env` adds or replaces variables of ours.
	bool Start(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {});

	// The exit status, or nothing when the child is still running at the end
	// of the wait.
	std::optional<int> Wait(std::chrono::milliseconds timeout);
	// Why the last Start failed: errno or GetLastError().
	unsigned long StartError() const;
	void Kill();
	// Asks the child to end as Ctrl-C or the system would (SIGTERM); false
	// where a test cannot send that (Windows).
	bool Terminate();

	// Standard output and error, interleaved, as far as they have arrived.
	std::string Output();

	struct Impl;

private:
	std::unique_ptr<Impl> impl_;
};

struct RunResult {
	int exit_code = -1; // -1 when it had to be killed
	std::string output;
};

// Runs a program to its end; a hang guard, not a time bound under test.
RunResult RunProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
                     std::chrono::milliseconds timeout = std::chrono::minutes(2));

// The folder of the running test program; the project's binaries sit there.
std::string ExecutableDir();

// A program or library of this build, by its base name.
std::string BinPath(const std::string &name);

// Sets a variable of this process's environment.
void SetEnvironment(const std::string &name, const std::string &value);

// ".exe" on Windows.
extern const char *const kExeSuffix;

} // namespace zelvan::test
