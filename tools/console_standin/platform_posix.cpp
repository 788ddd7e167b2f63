// POSIX process services of the console stand-in.
#include "tools/console_standin/platform.h"

#include <csignal>
#include <cstdlib>

#include <spawn.h>
#include <sys/resource.h>

extern char **environ;

namespace zelvan::console_standin {

std::vector<std::string> ProgramArguments(int argc, char **argv)
{
	return {argv, argv + argc};
}

std::string Environment(const char *name)
{
	const char *value = std::getenv(name);
	return value != nullptr ? value : "";
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	return std::fopen(path.c_str(), mode);
}

void PrepareStandardStreams()
{
	// Writes to a closed pipe then fail with EPIPE, which we ignore.
	std::signal(SIGPIPE, SIG_IGN);
}

void CrashNow()
{
	const rlimit no_core{0, 0};
	setrlimit(RLIMIT_CORE, &no_core);
	std::abort();
}

bool StartBeatingChild(const std::string &beat_file)
{
	const std::string self = "/proc/self/exe";
	char *argv[] = {const_cast<char *>(self.c_str()), const_cast<char *>("--beat"),
	                const_cast<char *>(beat_file.c_str()), nullptr};
	pid_t pid = -1;
	return posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) == 0;
}

std::string NativePath(const std::string &path)
{
	return path;
}

} // namespace zelvan::console_standin
