// Why a capability did not do what it was asked, as data: the faces (the
// command line, the panel) choose the words around it and the exit status.
#pragma once

#include <optional>
#include <string>

#include "tools/zelvan_ctl/channel/control_client.h"

namespace zelvan::ctl {

struct Failure {
	// The driver gave no reply: the face says why from the exchange (nothing
	// serves the channel, a time-out, the channel is another user's).
	std::optional<Exchange> no_reply;
	// Otherwise, one sentence for the user.
	std::string message;
};

// Nothing when it worked.
using MaybeFailure = std::optional<Failure>;

inline Failure NoReply(const Exchange &exchange)
{
	return {exchange, {}};
}

inline Failure Because(std::string message)
{
	return {std::nullopt, std::move(message)};
}

} // namespace zelvan::ctl
