// Running the built driver inside the host simulator, and reading back the
// trace of runtime calls it writes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
};

std::string DriverLibraryPath();
std::string HostSimPath();

// Runs the simulator at full speed on the built driver with a trace.
SimResult RunSim(const SimOptions &options);

} // namespace zelvan::test
