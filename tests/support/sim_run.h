// Running the built driver inside the host simulator, and reading back the
// trace of runtime calls it writes.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"

namespace zelvan::test {

// A scratch folder removed with the object.
class ScratchDir {
public:
	ScratchDir();
	~ScratchDir();
	const std::filesystem::path &path() const { return path_; }
	std::string File(const std::string &name) const { return (path_ / name).string(); }
	void Write(const std::string &name, const std::string &text) const;

private:
	std::filesystem::path path_;
};

struct SimResult {
	int exit_code = -1;
	std::string output;
	nlohmann::json trace; // null when the simulator wrote none

	// The driver log lines in order, as the runtime received them.
	std::vector<std::string> Log() const;
	// Every traced call of that name, in order.
	std::vector<nlohmann::json> Calls(const std::string &name) const;
};

struct SimOptions {
	std::vector<std::string> args; // simulator options, before the library
	std::map<std::string, std::string> env;
	std::string settings_json;     // written to a settings file when not empty
	std::string sensor;            // simulated sensor configuration, when not empty
	std::string library;           // the driver library to load; this build's when empty
};

// A simulator running in the background at 250 Hz until Stop, for tests that
// talk to the driver while it runs.
class RunningSim {
public:
	explicit RunningSim(const SimOptions &options = {});
	~RunningSim();

	// Waits for the control channel's creation line; false when it never came.
	bool WaitForChannel();
	// Ends the run through its stop file and collects the trace.
	SimResult Stop();
	// The driver's log so far, as printed by the simulator.
	std::string Output();
	// Waits until the driver has logged `line` (a whole line); a hang guard.
	bool WaitForLine(const std::string &line, std::chrono::milliseconds bound = std::chrono::seconds(30));

	// The channel's name for clients, and the environment they need.
	std::string ChannelPath() const;
	const std::map<std::string, std::string> &ClientEnv() const { return env_; }
	const ScratchDir &scratch() const { return scratch_; }

private:
	ScratchDir scratch_;
	std::map<std::string, std::string> env_;
	std::unique_ptr<ChildProcess> child_;
	bool stopped_ = false;
};

std::string DriverLibraryPath();
std::string HostSimPath();

// Runs the simulator at full speed on the built driver with a trace.
SimResult RunSim(const SimOptions &options);

} // namespace zelvan::test
