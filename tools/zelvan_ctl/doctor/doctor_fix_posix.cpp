// zelvan-ctl doctor --fix on Linux: SteamVR's server among this user's
// processes, the runtime's vrpathreg.sh, and a file replaced by rename with
// its owner, mode and access list.
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/zelvan_ctl/channel/utf8_path.h"

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

namespace {

// The names of the file's extended attributes, or false with errno.
bool XattrNames(int fd, std::vector<std::string> &names)
{
	names.clear();
	ssize_t size = flistxattr(fd, nullptr, 0);
	std::vector<char> list;
	while (size > 0) {
		list.resize(static_cast<size_t>(size));
		size = flistxattr(fd, list.data(), list.size());
		if (size >= 0 || errno != ERANGE)
			break;
		size = flistxattr(fd, nullptr, 0);
	}
	if (size < 0)
		return errno == ENOTSUP; // a file system without them
	for (size_t at = 0; at < static_cast<size_t>(size); at += names.back().size() + 1)
		names.emplace_back(list.data() + at);
	return true;
}

bool XattrValue(int fd, const std::string &name, std::string &value)
{
	ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
	while (size >= 0) {
		value.resize(static_cast<size_t>(size));
		const ssize_t got = fgetxattr(fd, name.c_str(), value.data(), value.size());
		if (got >= 0) {
			value.resize(static_cast<size_t>(got));
			return true;
		}
		if (errno != ERANGE)
			return false;
		size = fgetxattr(fd, name.c_str(), nullptr, 0);
	}
	return false;
}

// The model's extended attributes (its access list among them) on `to`, and
// none it lacks (a folder's default access list, say).
bool CopyXattrs(int model, int to, std::string &error)
{
	std::vector<std::string> wanted, present;
	if (!XattrNames(model, wanted) || !XattrNames(to, present)) {
		error = std::string("cannot list its extended attributes: ") + std::strerror(errno);
		return false;
	}
	for (const std::string &name : present)
		if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && fremovexattr(to, name.c_str()) != 0 &&
		    errno != ENODATA) {
			error = "cannot drop the extended attribute " + name + " from a new file: " + std::strerror(errno);
			return false;
		}
	for (const std::string &name : wanted) {
		std::string value, current;
		if (!XattrValue(model, name, value)) {
			error = "cannot read its extended attribute " + name + ": " + std::strerror(errno);
			return false;
		}
		if (XattrValue(to, name, current) && current == value)
			continue;
		if (fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
			error = "cannot carry its extended attribute " + name + " over to a new file: " + std::strerror(errno);
			return false;
		}
	}
	return true;
}

// `bytes` in a new file `temp` with the model's group, extended attributes
// and mode (in that order: a mode set last agrees with the access list),
// flushed to disk.
bool WriteLike(int model, const struct stat &info, const std::string &temp, const std::string &bytes, std::string &error)
{
	unlink(temp.c_str()); // left by a run of the same process id that was cut short
	const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
	if (fd < 0) {
		error = temp + ": " + std::strerror(errno);
		return false;
	}
	struct stat made;
	bool ok = fstat(fd, &made) == 0;
	if (ok && made.st_gid != info.st_gid && fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
		error = "cannot give a new file its group " + std::to_string(info.st_gid) + ": " + std::strerror(errno);
		ok = false;
	}
	size_t done = 0;
	while (ok && done < bytes.size()) {
		const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			error = temp + ": " + std::strerror(errno);
			ok = false;
		} else {
			done += static_cast<size_t>(n);
		}
	}
	ok = ok && CopyXattrs(model, fd, error);
	if (ok && fchmod(fd, info.st_mode & 07777) != 0) {
		error = temp + ": " + std::strerror(errno);
		ok = false;
	}
	if (ok && fsync(fd) != 0) {
		error = temp + ": " + std::strerror(errno);
		ok = false;
	}
	close(fd);
	if (!ok)
		unlink(temp.c_str());
	return ok;
}

// Whether the file still holds `bytes`.
bool Holds(int fd, const std::string &bytes)
{
	std::string now;
	char buffer[65536];
	ssize_t n = 0;
	while ((n = pread(fd, buffer, sizeof(buffer), static_cast<off_t>(now.size()))) > 0 && now.size() <= bytes.size())
		now.append(buffer, static_cast<size_t>(n));
	return n == 0 && now == bytes;
}

const char *const kChangedMeanwhile = "it changed while it was being mended; run the command again";

// The same file as `info` still, holding `bytes`: not replaced by a rename
// nor written in place since it was read.
bool StillAsRead(int model, const struct stat &info, const std::string &path, const std::string &bytes)
{
	struct stat now;
	return stat(path.c_str(), &now) == 0 && now.st_ino == info.st_ino && now.st_dev == info.st_dev &&
	       Holds(model, bytes);
}

bool ReplaceLocked(int model, const struct stat &info, const std::string &path, const std::string &old_bytes,
                   const std::string &bytes, const std::string &backup, std::string &error)
{
	// Another user's file would become ours (root's, under sudo) and SteamVR
	// could no longer write it.
	if (info.st_uid != geteuid()) {
		error = "it belongs to uid " + std::to_string(info.st_uid) + ", and this runs as uid " +
		        std::to_string(geteuid()) + "; run zelvan-ctl as the user who runs SteamVR";
		return false;
	}
	// Two mends at once take turns; what the other one (or SteamVR, starting)
	// wrote since this one read the file is not written over.
	if (flock(model, LOCK_EX) != 0 || !StillAsRead(model, info, path, old_bytes)) {
		error = kChangedMeanwhile;
		return false;
	}
	const std::string mine = "." + std::to_string(getpid()) + ".zelvan-tmp";
	const std::string backup_temp = backup + mine, temp = path + mine;
	bool ok = WriteLike(model, info, backup_temp, old_bytes, error);
	// A link, unlike a rename, never replaces a backup that is there.
	const bool backed_up = ok && link(backup_temp.c_str(), backup.c_str()) == 0;
	if (ok && !backed_up) {
		error = backup + ": " + std::strerror(errno);
		ok = false;
	}
	unlink(backup_temp.c_str());
	ok = ok && WriteLike(model, info, temp, bytes, error);
	// SteamVR takes no lock: a save of its during the writes above would be
	// lost by the rename. Checked again as late as can be.
	if (ok) {
		SaveDuringMendForTest(path);
		if (!StillAsRead(model, info, path, old_bytes)) {
			error = kChangedMeanwhile;
			ok = false;
		}
	}
	if (ok && rename(temp.c_str(), path.c_str()) != 0) {
		error = path + ": " + std::strerror(errno);
		ok = false;
	}
	if (!ok) {
		unlink(temp.c_str());
		if (backed_up)
			unlink(backup.c_str()); // of a mend that was not made
	}
	return ok;
}

} // namespace

bool ReplaceKeepingBackup(const std::string &path, const std::string &old_bytes, const std::string &bytes,
                          const std::string &backup, std::string &error)
{
	const int model = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
	struct stat info;
	if (model < 0 || fstat(model, &info) != 0) {
		error = path + ": " + std::strerror(errno);
		if (model >= 0)
			close(model);
		return false;
	}
	const bool ok = ReplaceLocked(model, info, path, old_bytes, bytes, backup, error);
	close(model);
	return ok;
}

} // namespace zelvan::ctl
