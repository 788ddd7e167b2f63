// The command line and the terminal on POSIX: bytes as they are.
#include "tools/zelvan_ctl/cli/console_text.h"

#include <unistd.h>

namespace zelvan::ctl {

bool Utf8Arguments(int argc, char **argv, std::vector<std::string> &args)
{
	args.clear();
	for (int i = 1; i < argc; ++i)
		args.emplace_back(argv[i]);
	return true;
}

void PrintUtf8ToConsole()
{
}

bool InputIsTerminal()
{
	return isatty(0) != 0;
}

} // namespace zelvan::ctl
