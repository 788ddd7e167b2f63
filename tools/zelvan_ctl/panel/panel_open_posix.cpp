// The panel's start on Linux: getrandom, a fresh 0700 folder from mkdtemp
// for the launch file, and xdg-open.
#include "tools/zelvan_ctl/panel/panel_open.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>
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

bool PeerIsThisUser(uintptr_t socket)
{
	const int fd = static_cast<int>(socket);
	sockaddr_in ours{}, peer{};
	socklen_t size = sizeof(ours);
	if (getsockname(fd, reinterpret_cast<sockaddr *>(&ours), &size) != 0 || ours.sin_family != AF_INET)
		return false;
	size = sizeof(peer);
	if (getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) != 0 || peer.sin_family != AF_INET)
		return false;
	FILE *table = std::fopen("/proc/net/tcp", "re");
	if (table == nullptr)
		return false;
	unsigned long uid = 0;
	const bool found = TcpTableOwner(table, peer.sin_addr.s_addr, ntohs(peer.sin_port), ours.sin_addr.s_addr,
	                                 ntohs(ours.sin_port), uid);
	std::fclose(table);
	return found && uid == geteuid();
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

// A handler that only writes a byte to a pipe, read by a thread that stops
// the panel. Not a blocked mask and sigwait: programs started from the panel
// (the browser, the doctor's) would inherit the mask and ignore Ctrl-C.
namespace {

int signal_pipe = -1;

void OnSignal(int)
{
	const int saved = errno;
	const char byte = 's';
	[[maybe_unused]] const ssize_t n = write(signal_pipe, &byte, 1);
	errno = saved;
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

struct StopOnSignals::State {
	int fds[2] = {-1, -1};
	struct sigaction before[std::size(kSignals)] = {};
	std::thread waiter;
};

StopOnSignals::StopOnSignals(std::function<void()> stop) : state_(std::make_unique<State>())
{
	State &s = *state_;
	if (pipe2(s.fds, O_CLOEXEC) != 0)
		return;
	signal_pipe = s.fds[1];
	s.waiter = std::thread([&s, stop = std::move(stop)] {
		// The destructor's byte is 'e'; a signal's is 's'.
		for (;;) {
			char byte = 0;
			const ssize_t n = read(s.fds[0], &byte, 1);
			if (n < 0 && errno == EINTR)
				continue;
			if (n != 1 || byte == 'e')
				return;
			stop();
		}
	});
	struct sigaction action {};
	action.sa_handler = OnSignal;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	for (size_t i = 0; i < std::size(kSignals); ++i)
		sigaction(kSignals[i], &action, &s.before[i]);
}

StopOnSignals::~StopOnSignals()
{
	State &s = *state_;
	if (!s.waiter.joinable())
		return;
	for (size_t i = 0; i < std::size(kSignals); ++i)
		sigaction(kSignals[i], &s.before[i], nullptr);
	const char byte = 'e';
	if (write(s.fds[1], &byte, 1) == 1)
		s.waiter.join();
	else
		s.waiter.detach();
	signal_pipe = -1;
	close(s.fds[0]);
	close(s.fds[1]);
}

} // namespace zelvan::ctl
