// The client's words for an exchange without a reply, shared by both
// platforms' clients and every face that shows them.
#include "tools/zelvan_ctl/channel/control_client.h"

#include "core/text_escape.h"

namespace zelvan::ctl {

std::string WhyNoReply(const Exchange &exchange, const std::string &channel)
{
	switch (exchange.outcome) {
	case Outcome::NoDriver:
		return "nothing answers on " + channel + "; the driver is probably not running";
	case Outcome::TimedOut:
		return "no reply on " + channel + " in time (the driver is busy or stalled)";
	case Outcome::Failed:
		return channel + ": " + EscapeControlBytes(exchange.reply);
	case Outcome::Replied:
		break;
	}
	return {};
}

} // namespace zelvan::ctl
