// Platform-independent helpers over ChildProcess.
#include "tests/support/child_process.h"

namespace zelvan::test {

RunResult RunProgram(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
                     std::chrono::milliseconds timeout)
{
	ChildProcess child;
	RunResult result;
	if (!child.Start(argv, env)) {
		result.output = "could not start " + argv.at(0) + " (error " + std::to_string(child.StartError()) + ")";
		return result;
	}
	const std::optional<int> status = child.Wait(timeout);
	if (!status)
		child.Kill();
	result.exit_code = status.value_or(-1);
	// Windows programs print CR LF in text mode; the tests compare lines.
	for (char c : child.Output())
		if (c != '\r')
			result.output += c;
	return result;
}

std::string BinPath(const std::string &name)
{
	return ExecutableDir() + "/" + name;
}

} // namespace zelvan::test
