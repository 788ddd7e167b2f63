// ChildProcess on POSIX: posix_spawn with one pipe for stdout and stderr.
#include "tests/support/child_process.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace zelvan::test {

const char *const kExeSuffix = "";

struct ChildProcess::Impl {
	pid_t pid = -1;
	int out_fd = -1;
	std::thread reader;
	std::mutex mutex;
	std::string output;
	std::optional<int> status;
	unsigned long start_error = 0;

	void Drain()
	{
		char buffer[4096];
		for (;;) {
			const ssize_t n = read(out_fd, buffer, sizeof(buffer));
			if (n > 0) {
				std::lock_guard<std::mutex> lock(mutex);
				output.append(buffer, static_cast<size_t>(n));
			} else if (n == 0 || errno != EINTR) {
				break;
			}
		}
	}
};

bool ChildProcess::Terminate()
{
	return impl_->pid > 0 && !impl_->status && kill(impl_->pid, SIGTERM) == 0;
}

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess()
{
	if (impl_->pid > 0 && !impl_->status)
		Kill();
	if (impl_->reader.joinable())
		impl_->reader.join();
	if (impl_->out_fd >= 0)
		close(impl_->out_fd);
}

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env)
{
	int fds[2];
	if (pipe2(fds, O_CLOEXEC) != 0)
		return false;

	std::map<std::string, std::string> merged;
	for (char **e = environ; *e != nullptr; ++e) {
		std::string entry = *e;
		const size_t eq = entry.find('=');
		if (eq != std::string::npos)
			merged[entry.substr(0, eq)] = entry.substr(eq + 1);
	}
	for (const auto &[k, v] : env)
		merged[k] = v;
	std::vector<std::string> env_strings;
	for (const auto &[k, v] : merged)
		env_strings.push_back(k + "=" + v);
	std::vector<char *> envp;
	for (auto &s : env_strings)
		envp.push_back(s.data());
	envp.push_back(nullptr);
	std::vector<std::string> args = argv;
	std::vector<char *> argp;
	for (auto &s : args)
		argp.push_back(s.data());
	argp.push_back(nullptr);

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
	posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
	posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
	const int rc = posix_spawnp(&impl_->pid, argp[0], &actions, nullptr, argp.data(), envp.data());
	posix_spawn_file_actions_destroy(&actions);
	close(fds[1]);
	if (rc != 0) {
		close(fds[0]);
		impl_->pid = -1;
		impl_->start_error = static_cast<unsigned long>(rc);
		return false;
	}
	impl_->out_fd = fds[0];
	impl_->reader = std::thread([impl = impl_.get()] { impl->Drain(); });
	return true;
}

unsigned long ChildProcess::StartError() const
{
	return impl_->start_error;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout)
{
	if (impl_->status)
		return impl_->status;
	if (impl_->pid <= 0)
		return -1;
	const auto deadline = std::chrono::steady_clock::now() + timeout;
	for (;;) {
		int status = 0;
		const pid_t r = waitpid(impl_->pid, &status, WNOHANG);
		if (r == impl_->pid) {
			impl_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
			if (impl_->reader.joinable())
				impl_->reader.join();
			return impl_->status;
		}
		if (std::chrono::steady_clock::now() >= deadline)
			return std::nullopt;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
}

void ChildProcess::Kill()
{
	if (impl_->pid > 0 && !impl_->status) {
		kill(impl_->pid, SIGKILL);
		Wait(std::chrono::seconds(10));
	}
}

std::string ChildProcess::Output()
{
	std::lock_guard<std::mutex> lock(impl_->mutex);
	return impl_->output;
}

void SetEnvironment(const std::string &name, const std::string &value)
{
	setenv(name.c_str(), value.c_str(), 1);
}

std::string ExecutableDir()
{
	char path[PATH_MAX];
	const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
	if (n <= 0)
		return ".";
	std::string p(path, static_cast<size_t>(n));
	return p.substr(0, p.find_last_of('/'));
}

} // namespace zelvan::test
