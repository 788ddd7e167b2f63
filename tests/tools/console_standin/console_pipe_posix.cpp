// ConsolePipe on POSIX: posix_spawn with a pipe on each standard stream.
#include "console_pipe.h"

#include <cerrno>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace zelvan::test {

struct ConsolePipe::Impl {
	pid_t pid = -1;
	int in_fd = -1;
	int out_fd = -1;
	std::thread reader;
	std::optional<int> status;
};

ConsolePipe::ConsolePipe() : impl_(std::make_unique<Impl>()) {}

ConsolePipe::~ConsolePipe()
{
	Kill();
	CloseInput();
	if (impl_->reader.joinable())
		impl_->reader.join();
	if (impl_->out_fd >= 0)
		close(impl_->out_fd);
}

bool ConsolePipe::Start(const std::string &exe)
{
	// A write to a child that crashed must fail, not end the test program.
	std::signal(SIGPIPE, SIG_IGN);
	int in[2], out[2];
	if (pipe2(in, O_CLOEXEC) != 0)
		return false;
	if (pipe2(out, O_CLOEXEC) != 0) {
		close(in[0]);
		close(in[1]);
		return false;
	}
	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, in[0], 0);
	posix_spawn_file_actions_adddup2(&actions, out[1], 1);
	posix_spawn_file_actions_adddup2(&actions, out[1], 2);
	char *argv[] = {const_cast<char *>(exe.c_str()), nullptr};
	const int rc = posix_spawn(&impl_->pid, exe.c_str(), &actions, nullptr, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	close(in[0]);
	close(out[1]);
	if (rc != 0) {
		close(in[1]);
		close(out[0]);
		impl_->pid = -1;
		return false;
	}
	impl_->in_fd = in[1];
	impl_->out_fd = out[0];
	impl_->reader = std::thread([this] { Drain(); });
	return true;
}

bool ConsolePipe::ReadSome(char *buffer, size_t size, size_t &got)
{
	ssize_t n = 0;
	do {
		n = read(impl_->out_fd, buffer, size);
	} while (n < 0 && errno == EINTR);
	got = n > 0 ? static_cast<size_t>(n) : 0;
	return n > 0;
}

bool ConsolePipe::Write(const std::string &bytes)
{
	if (impl_->in_fd < 0)
		return false;
	return write(impl_->in_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void ConsolePipe::CloseInput()
{
	if (impl_->in_fd >= 0)
		close(impl_->in_fd);
	impl_->in_fd = -1;
}

std::optional<int> ConsolePipe::Wait(std::chrono::milliseconds timeout)
{
	if (impl_->status || impl_->pid <= 0)
		return impl_->status;
	const auto deadline = std::chrono::steady_clock::now() + timeout;
	for (;;) {
		int status = 0;
		if (waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
			impl_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
			return impl_->status;
		}
		if (std::chrono::steady_clock::now() >= deadline)
			return std::nullopt;
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
}

void ConsolePipe::Kill()
{
	if (impl_->pid > 0 && !impl_->status) {
		kill(impl_->pid, SIGKILL);
		Wait(std::chrono::seconds(10));
	}
}

} // namespace zelvan::test
