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
	// Each set the driver took, as "key OLD -> NEW: REPLY" with the value it
	// replaced and the driver's reply ("OK key=value"), escaped.
	std::vector<std::string> confirmed;
	// " key=value" for each of those: in force when a later set failed.
	std::string applied;
	bool already = false; // the driver ran with these settings before
	// Keeping: " key=value" for each setting the driver runs with now that
	// differs from the recording's (set after it was made).
	std::string differs;
};

// Compares `settings` with those the driver runs with now and sets those
// that differ; with `keep`, sets nothing and only notes what differs from
// the recording's. `as_confirmed` gets each confirmation at once: a run cut
// short still showed what the driver runs with.
ApplyOutcome ApplySettings(const RecordingHeader &recorded, const TuneSettings &settings, bool keep,
                           const SendToDriver &send,
                           const std::function<void(const std::string &line)> &as_confirmed = {});

} // namespace zelvan::ctl
