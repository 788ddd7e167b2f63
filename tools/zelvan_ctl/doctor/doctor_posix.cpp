// zelvan-ctl doctor on Linux: the bundled hidapi and the loader's view of the
// driver library (ldd), and the sensor's hidraw node, its access and the udev
// rule.
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

extern char **environ;

namespace zelvan::ctl {
namespace {

namespace fs = std::filesystem;

const char *const kBundledHidapi = "libhidapi-hidraw.so.0";

} // namespace

// Runs argv (argv[0] found on PATH unless it names a path) and waits for it;
// false when it could not be started. Output is stdout and stderr together.
bool RunCollectingOutput(const std::vector<std::string> &args, std::string &output, int &status)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return false;
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
	posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
	std::vector<char *> argv;
	for (const std::string &arg : args)
		argv.push_back(const_cast<char *>(arg.c_str()));
	argv.push_back(nullptr);
	pid_t pid = 0;
	const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	if (spawned != 0) {
		close(fds[0]);
		return false;
	}
	char buffer[4096];
	ssize_t n = 0;
	while ((n = read(fds[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR))
		if (n > 0)
			output.append(buffer, static_cast<size_t>(n));
	close(fds[0]);
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	return true;
}

namespace {

// Runs ldd on the library; false when ldd could not be started.
bool RunLdd(const std::string &library, std::string &output, int &status)
{
	return RunCollectingOutput({"ldd", library}, output, status) && !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

// The names ldd could not resolve ("libfoo.so.1 => not found").
std::string MissingDependencies(const std::string &ldd_output)
{
	std::istringstream lines(ldd_output);
	std::string line, missing;
	while (std::getline(lines, line)) {
		if (line.find("not found") == std::string::npos)
			continue;
		const size_t begin = line.find_first_not_of(" \t");
		const size_t end = line.find(" =>");
		const std::string name = line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
		missing += (missing.empty() ? "" : ", ") + name;
	}
	return missing;
}

// The sysfs root; tests point it at a scratch tree.
std::string Root()
{
	const char *root = std::getenv("ZELVAN_TEST_SYSFS_ROOT");
	return root != nullptr ? root : "";
}

// True when a hidraw node's uevent names our sensor (USB, 35bd:0101).
bool IsOurSensor(const fs::path &uevent)
{
	// Read like the runtime's files: a FIFO in its place must not hold the doctor.
	std::string text;
	if (!ReadTextFile(Utf8String(uevent), text))
		return false;
	std::istringstream in(text);
	std::string line;
	while (std::getline(in, line)) {
		for (char &c : line)
			c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
		if (line == "HID_ID=0003:000035BD:00000101")
			return true;
	}
	return false;
}

// The installed udev rule that names our sensor, or empty.
std::string FindUdevRule(const std::string &root)
{
	for (const char *dir : {"/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
		std::error_code error;
		for (fs::directory_iterator it(Utf8Path(root + dir), error), end; !error && it != end; it.increment(error)) {
			if (it->path().extension() != ".rules")
				continue;
			const std::string path = Utf8String(it->path());
			std::string rules;
			if (!ReadTextFile(path, rules))
				continue;
			if (rules.find("35bd") != std::string::npos && rules.find("0101") != std::string::npos)
				return path;
		}
	}
	return {};
}

} // namespace

std::string DriverLibraryInFolder()
{
	return "bin/linux64/driver_ZelvanProximity.so";
}

std::string InstallRemedy()
{
	return "Install the driver folder with its install.sh (or register it with vrpathreg.sh adddriver FOLDER).";
}

Finding CheckLibraryDependencies(const std::string &library)
{
	const char *check = "library";
	const std::string dir = Utf8String(Utf8Path(library).parent_path());
	const std::string bundled = dir + "/" + kBundledHidapi;
	if (!fs::exists(Utf8Path(bundled)))
		return {check, Verdict::Fail, bundled + " is missing (the driver's hidapi, loaded from beside it)",
		        "Reinstall the driver folder with its install.sh: SteamVR's container has no hidapi of its own."};
	std::string output;
	int status = 0;
	if (!RunLdd(library, output, status))
		return {check, Verdict::Warn, library + " and " + kBundledHidapi + " are there; ldd is not available to check the rest",
		        "Install ldd (Debian: libc-bin) to check the library's dependencies."};
	const std::string missing = MissingDependencies(output);
	if (!missing.empty())
		return {check, Verdict::Fail, library + " needs " + missing + ", which the loader does not find",
		        "Reinstall the driver folder with its install.sh; the driver needs glibc 2.34 or newer."};
	// The bundled hidapi on its own too: a library found elsewhere (a build
	// without RUNPATH, a system hidapi) would hide a damaged copy.
	for (const std::string &file : {library, bundled}) {
		if (file == bundled && !RunLdd(file, output, status))
			break;
		if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
			std::string said = output.substr(0, output.find('\n'));
			const size_t at = said.find(": ");
			said = at == std::string::npos ? said : said.substr(at + 2); // ldd repeats the path first
			said = said.find_first_not_of(" \t") == std::string::npos ? said : said.substr(said.find_first_not_of(" \t"));
			return {check, Verdict::Fail, "the loader cannot load " + file + ": " + said,
			        "Reinstall the driver folder with its install.sh, which carries both libraries whole."};
		}
	}
	return {check, Verdict::Ok, library + " and its dependencies resolve (" + kBundledHidapi + " beside it)", ""};
}

Finding CheckSensor(const nlohmann::json &)
{
	const char *check = "sensor";
	const std::string root = Root();
	const std::string rule = FindUdevRule(root);
	const std::string rule_text = rule.empty() ? "no udev rule for it" : "udev rule " + rule;
	const std::string udev = "Install the udev rule with the driver folder's install.sh --udev, then reconnect the headset.";
	std::error_code error;
	std::vector<std::string> nodes;
	for (fs::directory_iterator it(Utf8Path(root + "/sys/class/hidraw"), error), end; !error && it != end;
	     it.increment(error))
		if (IsOurSensor(it->path() / "device" / "uevent"))
			nodes.push_back(Utf8String(it->path().filename()));
	std::sort(nodes.begin(), nodes.end());
	if (nodes.empty())
		return {check, Verdict::Fail, "no hidraw node of 35bd:0101 (" + rule_text + ")",
		        "Connect the headset's USB cable (the sensor is a USB device of the headset)."};
	const std::string node = root + "/dev/" + nodes.front();
	if (!fs::exists(Utf8Path(node)))
		return {check, Verdict::Fail, nodes.front() + " is in sysfs but " + node + " does not exist (" + rule_text + ")",
		        rule.empty() ? udev : "Reconnect the headset, so that udev creates the node."};
	if (access(node.c_str(), R_OK | W_OK) != 0)
		return {check, Verdict::Fail, node + " cannot be opened for reading and writing by this user (" + rule_text + ")",
		        rule.empty() ? udev : "Log out and in again (the rule grants the logged-in user), or reconnect the headset."};
	if (rule.empty())
		return {check, Verdict::Warn, node + " opens for reading and writing, but there is no udev rule for it",
		        "Install the udev rule with install.sh --udev, so that access survives a reconnect."};
	return {check, Verdict::Ok, node + " opens for reading and writing (" + rule_text + ")", ""};
}

} // namespace zelvan::ctl
