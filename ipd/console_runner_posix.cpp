// The console tool runner on POSIX: posix_spawn with pipes for the standard
// streams, a new session (no terminal), no other descriptor inherited.
#include "ipd/console_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/driver_log.h"

extern char **environ;

namespace zelvan {

const char *const kConsoleToolName = "lighthouse_console";

namespace {

constexpr long long kReadBoundMs = 10000;
constexpr long long kExitWaitMs = 10000;

// Writing into a pipe whose reader is gone must not raise SIGPIPE in the
// runtime's process: the signal is held for this thread and discarded.
bool WriteAll(int fd, const std::string &text)
{
	sigset_t pipe_signal, previous;
	sigemptyset(&pipe_signal);
	sigaddset(&pipe_signal, SIGPIPE);
	pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
	ssize_t written = 0;
	do {
		written = write(fd, text.data(), text.size());
	} while (written < 0 && errno == EINTR);
	const timespec no_wait{0, 0};
	while (sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
	}
	pthread_sigmask(SIG_SETMASK, &previous, nullptr);
	return written == static_cast<ssize_t>(text.size());
}

// The single read that decides the run, bounded so that a tool that prints
// nothing cannot hold the runtime's shutdown. Returns false on time-out too.
bool ReadOnce(int fd, long long bound_ms, bool &timed_out, std::string *output)
{
	timed_out = false;
	pollfd p{fd, POLLIN, 0};
	const auto until = ConsoleClock::now() + std::chrono::milliseconds(bound_ms);
	int ready = 0;
	do {
		ready = poll(&p, 1, static_cast<int>(WaitMs(bound_ms, until)));
	} while (ready < 0 && errno == EINTR);
	if (ready == 0) {
		timed_out = true;
		return false;
	}
	char buffer[4096];
	ssize_t n = 0;
	do {
		n = read(fd, buffer, sizeof(buffer));
	} while (n < 0 && errno == EINTR);
	if (n > 0)
		KeepOutput(output, buffer, static_cast<size_t>(n));
	return n > 0;
}

// Reads and discards whatever is waiting, so a talkative tool never blocks
// on a full pipe.
void Drain(int fd, std::string *output)
{
	char buffer[4096];
	for (ssize_t n = 0; (n = read(fd, buffer, sizeof(buffer))) > 0;)
		KeepOutput(output, buffer, static_cast<size_t>(n));
}

bool Reaped(pid_t pid)
{
	int status = 0;
	pid_t r = 0;
	do {
		r = waitpid(pid, &status, WNOHANG);
	} while (r < 0 && errno == EINTR);
	return r == pid || (r < 0 && errno == ECHILD);
}

// The tool leads its own process group (it was started in a new session),
// so whatever it started goes with it.
void Kill(pid_t pid)
{
	kill(-pid, SIGKILL);
	int status = 0;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
	}
}

} // namespace

ConsoleRun RunLighthouseConsole(const std::string &exe_path, const std::string &first_command,
                                const std::string &second_command, ConsoleClock::time_point deadline,
                                std::string *output)
{
	ConsoleRun run;
	int in[2], out[2];
	if (pipe2(in, O_CLOEXEC) != 0)
		return run;
	if (pipe2(out, O_CLOEXEC) != 0) {
		close(in[0]);
		close(in[1]);
		return run;
	}

	posix_spawn_file_actions_t actions;
	posix_spawn_file_actions_init(&actions);
	posix_spawn_file_actions_adddup2(&actions, in[0], 0);
	posix_spawn_file_actions_adddup2(&actions, out[1], 1);
	posix_spawn_file_actions_adddup2(&actions, out[1], 2);
	// Descriptors the runtime opened without close-on-exec stay with it.
	posix_spawn_file_actions_addclosefrom_np(&actions, 3);
	posix_spawnattr_t attributes;
	posix_spawnattr_init(&attributes);
	posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
	char *argv[] = {const_cast<char *>(exe_path.c_str()), nullptr};
	pid_t pid = -1;
	const int spawned = posix_spawn(&pid, exe_path.c_str(), &actions, &attributes, argv, environ);
	posix_spawn_file_actions_destroy(&actions);
	posix_spawnattr_destroy(&attributes);
	close(in[0]);
	close(out[1]);
	if (spawned != 0) {
		DriverLog("IPD Persist: Failed to start lighthouse_console (err=%lu)\n", static_cast<unsigned long>(spawned));
		close(in[1]);
		close(out[0]);
		return run;
	}

	bool read_timed_out = false;
	const long long read_bound = WaitMs(kReadBoundMs, deadline);
	// Both commands in one write: a tool that ends on reading the first must
	// not turn the second write into a failure to talk to it.
	if (WriteAll(in[1], first_command + second_command))
		run.ok = ReadOnce(out[0], read_bound, read_timed_out, output);
	if (read_timed_out) {
		run.out_of_time = read_bound < kReadBoundMs;
		DriverLog(run.out_of_time ? "IPD Persist: WARNING -- out of time, terminating lighthouse_console\n"
		                          : "IPD Persist: WARNING -- lighthouse_console printed nothing in 10 s, terminating\n");
		close(in[1]);
		close(out[0]);
		Kill(pid);
		run.terminated = true;
		return run;
	}

	WriteAll(in[1], "exit\r\n");
	close(in[1]);
	fcntl(out[0], F_SETFL, fcntl(out[0], F_GETFL) | O_NONBLOCK);
	const long long exit_bound = WaitMs(kExitWaitMs, deadline);
	const auto until = ConsoleClock::now() + std::chrono::milliseconds(exit_bound);
	bool exited = false;
	for (;;) {
		Drain(out[0], output);
		if (Reaped(pid)) {
			exited = true;
			// What it printed last, just before it ended.
			Drain(out[0], output);
			break;
		}
		if (ConsoleClock::now() >= until)
			break;
		usleep(1000);
	}
	if (!exited) {
		run.out_of_time = exit_bound < kExitWaitMs;
		DriverLog(run.out_of_time ? "IPD Persist: WARNING -- out of time, terminating lighthouse_console\n"
		                          : "IPD Persist: WARNING -- lighthouse_console did not exit, terminating\n");
		Kill(pid);
		run.terminated = true;
	}
	close(out[0]);
	return run;
}

} // namespace zelvan
