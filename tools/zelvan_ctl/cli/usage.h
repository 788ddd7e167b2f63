// The command line's usage text, kept per command so that
// `zelvan-ctl COMMAND --help` prints that command's part of it.
#pragma once

#include <string>

namespace zelvan::ctl {

// Everything: commands, options, exit statuses and examples.
std::string FullUsage();

// The lines of `command` (e.g. "doctor": both of its forms), with a pointer
// to the full text; empty when it is not one of the commands.
std::string CommandUsage(const std::string &command);

} // namespace zelvan::ctl
