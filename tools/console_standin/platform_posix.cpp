// POSIX process services of the console stand-in.
#include "tools/console_standin/platform.h"

#include <csignal>
#include <cstdlib>

#include <sys/resource.h>

namespace zelvan::console_standin {

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

std::string NativePath(const std::string &path)
{
	return path;
}

} // namespace zelvan::console_standin
