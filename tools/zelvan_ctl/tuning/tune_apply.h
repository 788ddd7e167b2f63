// Hands tune's recommendation to the running driver: only to the sensor the
// recording was taken with, and only the values the driver does not have.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/failure.h"
#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/tune.h"

namespace zelvan::ctl {

struct ApplyOutcome {
	MaybeFailure failure;
	// The driver's reply to each set it took ("OK key=value"), escaped.
	std::vector<std::string> confirmed;
	// " key=value" for each of those: in force when a later set failed.
	std::string applied;
	bool already = false; // the driver ran with these settings before
};

// `as_confirmed` gets each confirmation at once: a run cut short still
// showed what the driver runs with.
ApplyOutcome ApplySettings(const RecordingHeader &recorded, const TuneSettings &settings, const SendToDriver &send,
                           const std::function<void(const std::string &reply)> &as_confirmed = {});

} // namespace zelvan::ctl
