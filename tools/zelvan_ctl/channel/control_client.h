// The client side of the driver's control channel: one command out, one
// reply back, per connection.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace zelvan::ctl {

enum class Outcome {
	Replied,   // reply holds the driver's answer
	NoDriver,  // nothing serves the channel
	TimedOut,  // the driver is busy or did not answer in time
	Failed,    // another error; reply holds a description
};

struct Exchange {
	Outcome outcome = Outcome::Failed;
	std::string reply;
	long foreign_uid = -1; // Failed: the user id that holds the channel, not ours
};

// Sends `command` as one message and waits for the reply until `timeout`,
// retrying while the channel's single instance is busy.
Exchange SendCommand(const std::string &channel, const std::string &command, std::chrono::milliseconds timeout);

// One command to the driver and what came back: SendCommand on a channel, or
// a test's scripted driver.
using SendToDriver = std::function<Exchange(const std::string &command)>;

// Why an exchange that is not Replied got no answer, in the command line's
// words ("nothing answers on CHANNEL; ..."), for any face that says it.
std::string WhyNoReply(const Exchange &exchange, const std::string &channel);

} // namespace zelvan::ctl
