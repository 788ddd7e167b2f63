// RunSim: the host simulator as the end-to-end tests drive it.
#include "tests/support/sim_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

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

namespace {

nlohmann::json ReadTrace(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return nullptr;
	std::stringstream text;
	text << in.rdbuf();
	return nlohmann::json::parse(text.str(), nullptr, false);
}

void AddInputFiles(const ScratchDir &scratch, const SimOptions &options, std::vector<std::string> &argv)
{
	if (!options.settings_json.empty()) {
		scratch.Write("steamvr.vrsettings", options.settings_json);
		argv.insert(argv.end(), {"--settings", scratch.File("steamvr.vrsettings")});
	}
	if (!options.sensor.empty()) {
		scratch.Write("sensor.cfg", options.sensor);
		argv.insert(argv.end(), {"--sim-sensor", scratch.File("sensor.cfg")});
	}
}

} // namespace

RunningSim::RunningSim(const SimOptions &options) : env_(options.env), child_(std::make_unique<ChildProcess>())
{
	// A channel of the run's own, named after its scratch folder.
	env_.try_emplace("ZELVAN_TEST_CHANNEL", scratch_.path().filename().string());
	std::vector<std::string> argv = {HostSimPath(), "--rate", "250", "--seconds", "120", "--trace",
	                                 scratch_.File("trace.json"), "--stop-file", scratch_.File("stop")};
	AddInputFiles(scratch_, options, argv);
	argv.insert(argv.end(), options.args.begin(), options.args.end());
	argv.push_back(options.library.empty() ? DriverLibraryPath() : options.library);
	child_->Start(argv, env_);
}

RunningSim::~RunningSim()
{
	if (!stopped_)
		Stop();
}

bool RunningSim::WaitForChannel()
{
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
	while (std::chrono::steady_clock::now() < deadline) {
		const std::string out = Output();
		if (out.find("Pipe: Created") != std::string::npos)
			return true;
		if (out.find("Pipe: Failed") != std::string::npos || child_->Wait(std::chrono::milliseconds(0)))
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

SimResult RunningSim::Stop()
{
	stopped_ = true;
	scratch_.Write("stop", "");
	SimResult result;
	const std::optional<int> status = child_->Wait(std::chrono::seconds(60));
	if (!status)
		child_->Kill();
	result.exit_code = status.value_or(-1);
	result.output = child_->Output();
	result.trace = ReadTrace(scratch_.File("trace.json"));
	return result;
}

bool RunningSim::WaitForLine(const std::string &line, std::chrono::milliseconds bound)
{
	const auto deadline = std::chrono::steady_clock::now() + bound;
	const std::string wanted = "] " + line + "\n";
	while (std::chrono::steady_clock::now() < deadline) {
		std::string out = Output();
		out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
		if (out.find(wanted) != std::string::npos)
			return true;
		if (child_->Wait(std::chrono::milliseconds(0)))
			return false;
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return false;
}

std::string RunningSim::Output()
{
	return child_->Output();
}

std::string RunningSim::ChannelPath() const
{
#if defined(_WIN32)
	return "\\\\.\\pipe\\" + env_.at("ZELVAN_TEST_CHANNEL");
#else
	return "@" + env_.at("ZELVAN_TEST_CHANNEL");
#endif
}

SimResult RunSim(const SimOptions &options)
{
	ScratchDir scratch;
	std::vector<std::string> argv = {HostSimPath(), "--rate", "0", "--quiet", "--trace", scratch.File("trace.json")};
	AddInputFiles(scratch, options, argv);
	argv.insert(argv.end(), options.args.begin(), options.args.end());
	argv.push_back(options.library.empty() ? DriverLibraryPath() : options.library);

	std::map<std::string, std::string> env = options.env;
	env.emplace("ZELVAN_TEST_CHANNEL", scratch.path().filename().string());
	const RunResult run = RunProgram(argv, env);
	SimResult result;
	result.exit_code = run.exit_code;
	result.output = run.output;
	result.trace = ReadTrace(scratch.File("trace.json"));
	return result;
}

} // namespace zelvan::test
