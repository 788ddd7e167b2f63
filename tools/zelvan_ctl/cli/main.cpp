// zelvan-ctl: talks to the running driver over its control channel.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/cli/command_line.h"
#include "tools/zelvan_ctl/cli/console_text.h"
#include "tools/zelvan_ctl/cli/exit_status.h"

// What the files of SteamVR or of other programs hold must not end the
// program without a word: an exception that got this far is reported.
int main(int argc, char **argv)
{
	try {
		zelvan::ctl::PrintUtf8ToConsole();
		std::vector<std::string> args;
		if (!zelvan::ctl::Utf8Arguments(argc, argv, args)) {
			std::fprintf(stderr, "zelvan-ctl: an argument is not valid text (half of a UTF-16 surrogate pair)\n");
			return zelvan::ctl::kExitUsage;
		}
		return zelvan::ctl::RunCommandLine(args);
	} catch (const std::exception &e) {
		std::fflush(stdout);
		std::fprintf(stderr, "zelvan-ctl: %s\n", zelvan::EscapeControlBytes(e.what()).c_str());
		return zelvan::ctl::kExitError;
	}
}
