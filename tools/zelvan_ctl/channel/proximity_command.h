// The driver's words for a presence mode, as every face asks for it.
#pragma once

#include <string>
#include <vector>

namespace zelvan::ctl {

// "proximity MODE", "proximity persist MODE" (persist) or "proximity MODE for
// DURATION" (timed); the driver checks the mode and the duration. False with
// `error` for what no driver takes: a kept value that runs out, or a hold of
// auto.
bool ProximityCommand(const std::string &mode, bool persist, bool timed, const std::string &duration,
                      std::vector<std::string> &words, std::string &error);

} // namespace zelvan::ctl
