// zelvan-ctl doctor --fix on Linux: SteamVR's server among this user's
// processes, the runtime's vrpathreg.sh, and a file replaced by rename.
#include "tools/zelvan_ctl/doctor_steamvr.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/zelvan_ctl/utf8_path.h"

namespace zelvan::ctl {

const char *const kInstallScript = "install.sh";
const char *const kVrpathregName = "vrpathreg.sh";
const char *const kVrpathregInRuntime = "bin/vrpathreg.sh";
const char *const kVrpathregHint = "~/.steam/steam/steamapps/common/SteamVR/bin/vrpathreg.sh";
const char *const kUninstallHow = "install.sh --uninstall in each folder";

// No setup program installs on Linux; a test names a folder as if one had,
// so that the choice among copies is tested here too.
std::string SetupProgramFolder()
{
	const char *folder = std::getenv("ZELVAN_TEST_SETUP_FOLDER");
	return folder != nullptr ? folder : "";
}

bool IsVrServerRunning()
{
	namespace fs = std::filesystem;
	std::error_code error;
	for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
		const std::string pid = Utf8String(it->path().filename());
		if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
			continue;
		struct stat info;
		if (stat(it->path().c_str(), &info) != 0 || info.st_uid != getuid())
			continue;
		std::ifstream comm(it->path() / "comm");
		std::string name;
		if (std::getline(comm, name) && name == "vrserver")
			return true;
	}
	return false;
}

std::string VrpathregPath(const std::string &runtime_dir)
{
	if (runtime_dir.empty())
		return {};
	const std::string path = JoinUtf8(runtime_dir, kVrpathregInRuntime);
	return !path.empty() && access(path.c_str(), X_OK) == 0 ? path : std::string();
}

bool RunTool(const std::string &program, const std::vector<std::string> &args, std::string &output)
{
	std::vector<std::string> argv = {program};
	argv.insert(argv.end(), args.begin(), args.end());
	int status = 0;
	if (!RunCollectingOutput(argv, output, status))
		return false;
	return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ReplaceFileAtomically(const std::string &temp, const std::string &path, const std::string &bytes, std::string &error)
{
	// The file keeps its permissions (SteamVR's is often group-writable).
	struct stat info;
	const mode_t mode = stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
	const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
	if (fd < 0) {
		error = temp + ": " + std::strerror(errno);
		return false;
	}
	fchmod(fd, mode);
	size_t done = 0;
	while (done < bytes.size()) {
		const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			break;
		done += static_cast<size_t>(n);
	}
	const int write_errno = errno;
	const bool written = done == bytes.size() && fsync(fd) == 0;
	close(fd);
	if (!written || rename(temp.c_str(), path.c_str()) != 0) {
		error = std::strerror(written ? errno : write_errno);
		unlink(temp.c_str());
		return false;
	}
	return true;
}

} // namespace zelvan::ctl
