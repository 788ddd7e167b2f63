// The panel's API over the capabilities: each endpoint asks the same
// functions as the matching zelvan-ctl command and answers in JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/zelvan_ctl/channel/control_client.h"

namespace zelvan::ctl {

struct ApiReply {
	int status = 200;
	std::string body; // JSON, or a short reason when status is not 200
};

class PanelApi {
public:
	// `send` asks the driver on `channel` (a test's scripted driver);
	// the doctor asks `channel` itself.
	PanelApi(SendToDriver send, std::string channel, std::chrono::milliseconds timeout);

	ApiReply Status(uint64_t refused) const;
	// `after`: the text of the after= parameter, or null when there is none.
	ApiReply Samples(const std::string *after) const;
	// The bodies are the request's text: a JSON object, strictly checked.
	ApiReply Presence(const std::string &body) const;
	ApiReply Ipd(const std::string &body) const;
	ApiReply Doctor() const;

private:
	SendToDriver send_;
	std::string channel_;
	std::chrono::milliseconds timeout_;
};

} // namespace zelvan::ctl
