// The persistence's temporary folder on POSIX: a private folder held open,
// with every file opened relative to it and never through a link.
#include "ipd/temp_folder.h"
#include "ipd/held_file_posix.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"

namespace zelvan {
namespace {

bool WriteAll(int fd, const std::string &text)
{
	size_t done = 0;
	while (done < text.size()) {
		const ssize_t n = write(fd, text.data() + done, text.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		done += static_cast<size_t>(n);
	}
	return true;
}

} // namespace

TempFolder::~TempFolder()
{
	if (fd_ < 0)
		return;
	// Only our own folder: whatever else now sits under its name stays.
	if (StillInPlace())
		rmdir(path_.c_str());
	close(fd_);
}

bool TempFolder::MakeIn(const std::string &parent, std::string &error)
{
	std::string pattern = parent + "/zelvan-ipd-XXXXXX";
	if (mkdtemp(pattern.data()) == nullptr) {
		error = std::error_code(errno, std::generic_category()).message();
		return false;
	}
	// The name may have been swapped between its making and this open; what
	// is opened must be a folder of ours that nobody else can enter.
	const int fd = open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
	if (fd < 0) {
		error = "cannot open " + EscapeControlBytes(pattern) + ": " + std::error_code(errno, std::generic_category()).message();
		return false;
	}
	struct stat info;
	if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 077) != 0) {
		close(fd);
		error = EscapeControlBytes(pattern) + " is not a private folder of this user";
		return false;
	}
	fd_ = fd;
	device_ = info.st_dev;
	inode_ = info.st_ino;
	path_ = pattern + "/";
	return true;
}

bool TempFolder::Make()
{
	// $TMPDIR when it names a folder that takes a new one, else /tmp, as
	// Windows' own lookup falls back on its own.
	note_.clear();
	const char *tmp = std::getenv("TMPDIR");
	std::string passed_over; // why $TMPDIR was not used
	if (tmp != nullptr && tmp[0] != '\0') {
		if (tmp[0] != '/')
			passed_over = "not an absolute path";
		else if (MakeIn(tmp, passed_over))
			return true;
		passed_over = " (TMPDIR=" + EscapeControlBytes(tmp) + ": " + passed_over + ")";
	}
	std::string error;
	if (MakeIn("/tmp", error)) {
		note_ = passed_over.empty() ? "" : "/tmp" + passed_over;
		return true;
	}
	note_ = "in /tmp: " + error + passed_over;
	return false;
}

std::string TempFolder::PathOf(const std::string &name) const
{
	return path_ + name;
}

bool TempFolder::StillInPlace() const
{
	struct stat info;
	return fd_ >= 0 && lstat(path_.substr(0, path_.size() - 1).c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
	       info.st_dev == device_ && info.st_ino == inode_;
}

bool TempFolder::Exists(const std::string &name) const
{
	struct stat info;
	return fd_ >= 0 && fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

TempRead ReadHeldFile(int folder_fd, const std::string &name, std::string &content, bool must_be_ours)
{
	content.clear();
	// Non-blocking: a FIFO planted under the name must not hold the reader.
	const int fd = folder_fd >= 0 ? openat(folder_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1;
	if (fd < 0)
		return TempRead::Unreadable;
	struct stat info;
	bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && (!must_be_ours || info.st_uid == geteuid());
	char buffer[4096];
	while (ok) {
		const ssize_t n = read(fd, buffer, sizeof(buffer));
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0) {
			ok = n == 0;
			break;
		}
		content.append(buffer, static_cast<size_t>(n));
		ok = content.size() <= kMaxRuntimeFileBytes;
	}
	close(fd);
	if (!ok)
		content.clear();
	return ok ? TempRead::Ok : TempRead::Unreadable;
}

TempRead TempFolder::Read(const std::string &name, std::string &content) const
{
	return ReadHeldFile(fd_, name, content, true);
}

TempWrite TempFolder::Create(const std::string &name, const std::string &text) const
{
	const int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0)
		return TempWrite::NotCreated;
	const bool written = WriteAll(fd, text);
	const bool closed = close(fd) == 0;
	return written && closed ? TempWrite::Ok : TempWrite::NotWritten;
}

void TempFolder::Delete(const std::string &name) const
{
	if (fd_ >= 0)
		unlinkat(fd_, name.c_str(), 0);
}

} // namespace zelvan
