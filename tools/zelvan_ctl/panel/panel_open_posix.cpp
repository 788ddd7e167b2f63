// The panel's start on Linux: getrandom, a fresh 0700 folder from mkdtemp
// for the launch file, and xdg-open.
#include "tools/zelvan_ctl/panel/panel_open.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char **environ;

namespace zelvan::ctl {

bool RandomBytes(unsigned char *bytes, size_t size)
{
	size_t got = 0;
	while (got < size) {
		const ssize_t n = getrandom(bytes + got, size - got, 0);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		got += static_cast<size_t>(n);
	}
	return true;
}

bool WriteLaunchFile(const std::string &address, LaunchFile &file, std::string &error)
{
	const char *base = std::getenv("XDG_RUNTIME_DIR");
	if (base == nullptr || *base == '\0')
		base = std::getenv("TMPDIR");
	if (base == nullptr || *base == '\0')
		base = "/tmp";
	std::string pattern = std::string(base) + "/zelvan-panel-XXXXXX";
	std::vector<char> name(pattern.begin(), pattern.end());
	name.push_back('\0');
	// mkdtemp makes the folder 0700 and fails rather than reuse a name.
	if (mkdtemp(name.data()) == nullptr) {
		error = "cannot make a private folder in " + std::string(base) + ": " + std::strerror(errno);
		return false;
	}
	file.folder = name.data();
	file.path = file.folder + "/open-panel.html";
	const int fd = open(file.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0) {
		error = "cannot create " + file.path + ": " + std::strerror(errno);
		rmdir(file.folder.c_str());
		return false;
	}
	const std::string page = LaunchPage(address);
	const bool written = write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
	const bool closed = close(fd) == 0;
	if (!written || !closed) {
		error = "cannot write " + file.path;
		RemoveLaunchFile(file);
		return false;
	}
	return true;
}

void RemoveLaunchFile(const LaunchFile &file)
{
	if (!file.path.empty())
		unlink(file.path.c_str());
	if (!file.folder.empty())
		rmdir(file.folder.c_str());
}

bool OpenInBrowser(const LaunchFile &file, std::string &error)
{
	char program[] = "xdg-open";
	std::vector<char> path(file.path.begin(), file.path.end());
	path.push_back('\0');
	char *argv[] = {program, path.data(), nullptr};
	pid_t pid = 0;
	if (const int failed = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ)) {
		error = std::string("cannot start xdg-open: ") + std::strerror(failed);
		return false;
	}
	int status = 0;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
	if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
		error = "xdg-open could not open " + file.path;
		return false;
	}
	return true;
}

} // namespace zelvan::ctl
