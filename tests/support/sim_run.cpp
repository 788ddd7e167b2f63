// RunSim: the host simulator as the end-to-end tests drive it.
#include "tests/support/sim_run.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/child_process.h"

namespace zelvan::test {

ScratchDir::ScratchDir()
{
	static std::atomic<int> counter{0};
	std::random_device rd;
	const auto name = "zelvan-test-" + std::to_string(rd()) + "-" + std::to_string(counter++);
	path_ = std::filesystem::temp_directory_path() / name;
	std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir()
{
	std::error_code ignored;
	std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::Write(const std::string &name, const std::string &text) const
{
	std::ofstream(path_ / name, std::ios::binary) << text;
}

std::vector<std::string> SimResult::Log() const
{
	std::vector<std::string> lines;
	if (trace.is_object() && trace.contains("log"))
		for (const auto &entry : trace["log"])
			lines.push_back(entry.value("text", ""));
	return lines;
}

std::vector<nlohmann::json> SimResult::Calls(const std::string &name) const
{
	std::vector<nlohmann::json> calls;
	if (trace.is_object() && trace.contains("calls"))
		for (const auto &call : trace["calls"])
			if (call.value("call", "") == name)
				calls.push_back(call);
	return calls;
}

std::string DriverLibraryPath()
{
#if defined(_WIN32)
	return BinPath("driver_ZelvanProximity.dll");
#else
	return BinPath("driver_ZelvanProximity.so");
#endif
}

std::string HostSimPath()
{
	return BinPath(std::string("zelvan-host-sim") + kExeSuffix);
}

SimResult RunSim(const SimOptions &options)
{
	ScratchDir scratch;
	std::vector<std::string> argv = {HostSimPath(), "--rate", "0", "--quiet", "--trace", scratch.File("trace.json")};
	if (!options.settings_json.empty()) {
		scratch.Write("steamvr.vrsettings", options.settings_json);
		argv.insert(argv.end(), {"--settings", scratch.File("steamvr.vrsettings")});
	}
	argv.insert(argv.end(), options.args.begin(), options.args.end());
	argv.push_back(DriverLibraryPath());

	const RunResult run = RunProgram(argv, options.env);
	SimResult result;
	result.exit_code = run.exit_code;
	result.output = run.output;
	std::ifstream in(scratch.File("trace.json"), std::ios::binary);
	if (in) {
		std::stringstream text;
		text << in.rdbuf();
		result.trace = nlohmann::json::parse(text.str(), nullptr, false);
	}
	return result;
}

} // namespace zelvan::test
