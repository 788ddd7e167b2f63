// zelvan-ctl's command line as a function, so that its tests run what the
// program runs.
#pragma once

#include <string>
#include <vector>

namespace zelvan::ctl {

// The arguments after the program's name, as UTF-8; returns the exit status.
int RunCommandLine(const std::vector<std::string> &args);

} // namespace zelvan::ctl
