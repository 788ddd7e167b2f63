// The driver's words for a presence mode: the command line and the panel
// share them, so that both refuse the same.
#include "tools/zelvan_ctl/channel/proximity_command.h"

namespace zelvan::ctl {

bool ProximityCommand(const std::string &mode, bool persist, bool timed, const std::string &duration,
                      std::vector<std::string> &words, std::string &error)
{
	if (persist && timed) {
		error = "--persist and --for do not go together: a kept value that runs out makes no sense across runs";
		return false;
	}
	if (timed && mode != "on" && mode != "off") {
		error = "--for holds on or off for a while; proximity auto ends a hold";
		return false;
	}
	if (persist)
		words = {"proximity", "persist", mode};
	else if (timed)
		words = {"proximity", mode, "for", duration};
	else
		words = {"proximity", mode};
	return true;
}

} // namespace zelvan::ctl
