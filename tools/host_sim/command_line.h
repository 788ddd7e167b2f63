// The simulator's command line: options into SimulatorOptions, and the help text.
#pragma once

#include <string>
#include <vector>

#include "tools/host_sim/simulator.h"

namespace zelvan::host_sim {

struct CommandLine {
  SimulatorOptions options;
  bool help = false;
  bool version = false;
};

// args excludes the program name. On failure, *error says which argument and why.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);

std::string HelpText();

}  // namespace zelvan::host_sim
