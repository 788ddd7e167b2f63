// The kept copies' folder on POSIX: under the XDG data home, each of our
// folders opened without following a link and checked to be the user's own,
// every file opened relative to the folder held open.
#include "ipd/kept_config.h"
#include "ipd/held_file_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ipd/runtime_paths.h"

namespace zelvan {
namespace {

std::string ErrorText(int error)
{
	return std::error_code(error, std::generic_category()).message();
}

// The data home itself, as the user set it up (a link there is the user's
// own choice); its missing folders are made owner-only, as XDG asks.
int OpenDataHome(const std::string &path, bool create, std::string &note)
{
	if (create) {
		for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
			const std::string upto = path.substr(0, slash);
			if (mkdir(upto.c_str(), 0700) != 0 && errno != EEXIST) {
				note = "cannot create " + upto + ": " + ErrorText(errno);
				return -1;
			}
			if (slash == std::string::npos)
				break;
		}
	}
	const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0)
		note = "cannot open " + path + ": " + ErrorText(errno);
	return fd;
}

// One of our own folders inside `parent`: never a link, never another
// user's, and owner-only (what we made with other rights is narrowed).
int OpenOwnFolder(int parent, const std::string &name, const std::string &path, bool create, std::string &note)
{
	if (create && mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
		note = "cannot create " + path + ": " + ErrorText(errno);
		return -1;
	}
	const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0) {
		note = (errno == ELOOP || errno == ENOTDIR ? path + " is not a folder (a link is refused)"
		                                            : "cannot open " + path + ": " + ErrorText(errno));
		return -1;
	}
	struct stat info;
	if (fstat(fd, &info) != 0 || info.st_uid != geteuid()) {
		close(fd);
		note = path + " belongs to another user";
		return -1;
	}
	if ((info.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
		close(fd);
		note = "cannot make " + path + " private: " + ErrorText(errno);
		return -1;
	}
	return fd;
}

bool WriteAll(int fd, const std::string &bytes)
{
	size_t done = 0;
	while (done < bytes.size()) {
		const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		done += static_cast<size_t>(n);
	}
	return true;
}

} // namespace

KeptFolder::~KeptFolder()
{
	if (fd_ >= 0)
		close(fd_);
}

bool KeptFolder::Open(bool create)
{
	std::string home;
	const char *data = std::getenv("XDG_DATA_HOME");
	if (data != nullptr && data[0] == '/') {
		home = data;
	} else {
		const char *user_home = std::getenv("HOME");
		if (user_home == nullptr || user_home[0] != '/') {
			note_ = "HOME is not set";
			return false;
		}
		home = std::string(user_home) + "/.local/share";
	}
	while (home.size() > 1 && home.back() == '/')
		home.pop_back();
	int fd = OpenDataHome(home, create, note_);
	std::string path = home;
	for (const char *name : {"zelvan-proximity", "kept-config"}) {
		if (fd < 0)
			return false;
		path += std::string("/") + name;
		const int inner = OpenOwnFolder(fd, name, path, create, note_);
		close(fd);
		fd = inner;
	}
	if (fd < 0)
		return false;
	fd_ = fd;
	path_ = path + "/";
	return true;
}

bool KeptFolder::Names(std::vector<std::string> &names) const
{
	names.clear();
	const int fd = fd_ >= 0 ? dup(fd_) : -1;
	DIR *dir = fd >= 0 ? fdopendir(fd) : nullptr;
	if (dir == nullptr) {
		if (fd >= 0)
			close(fd);
		return false;
	}
	rewinddir(dir);
	while (const dirent *entry = readdir(dir)) {
		struct stat info;
		if (fstatat(fd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
			names.push_back(entry->d_name);
	}
	closedir(dir);
	std::sort(names.begin(), names.end());
	return true;
}

TempRead KeptFolder::Read(const std::string &name, std::string &content) const
{
	return ReadHeldFile(fd_, name, content, false);
}

TempWrite KeptFolder::CreateNew(const std::string &name, const std::string &bytes) const
{
	const int fd = fd_ >= 0 ? openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
	if (fd < 0)
		return TempWrite::NotCreated;
	// A copy cut short is no copy: it goes, so that the next run keeps one.
	const bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
	if (close(fd) != 0 || !ok) {
		unlinkat(fd_, name.c_str(), 0);
		return TempWrite::NotWritten;
	}
	return TempWrite::Ok;
}

bool KeptFolder::Replace(const std::string &name, const std::string &bytes) const
{
	const std::string part = name + ".part";
	unlinkat(fd_, part.c_str(), 0);
	if (CreateNew(part, bytes) != TempWrite::Ok)
		return false;
	if (renameat(fd_, part.c_str(), fd_, name.c_str()) != 0) {
		unlinkat(fd_, part.c_str(), 0);
		return false;
	}
	return true;
}

} // namespace zelvan
