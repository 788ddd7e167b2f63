// A whole recording into a file: the plain one, worn as the user plays, or
// the guided one, led through rounds of taking the headset off and putting
// it on. What happens goes to the face as events, for it to show at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/failure.h"

namespace zelvan::ctl {

inline constexpr int kGuidedRounds = 3;
inline constexpr double kWornSeconds = 60.0;
inline constexpr double kPhaseSeconds = 10.0;

struct RecordPlan {
	std::string file; // UTF-8
	bool guided = false;
	std::optional<double> seconds; // the whole plain recording, or each phase
	int count_down = 3;            // guided: seconds before each phase's "now"

	double Seconds() const { return seconds.value_or(guided ? kPhaseSeconds : kWornSeconds); }
};

// The person holding the headset, or a script playing one, acts on these.
struct RecordEvent {
	enum class Kind {
		Worn,      // a plain recording begins: `seconds` long
		Second,    // plain: `gone` seconds of `seconds`, `readings` so far
		Ended,     // the plain recording's polling ended
		Guided,    // a guided one begins: kGuidedRounds rounds of `seconds`
		Round,     // `round`: take it off (`on` false) or put it on
		CountDown, // `left` seconds before the phase begins
		Now,       // the phase's labelled readings begin: `on`, `seconds`
		PhaseEnd,  // the phase took `readings`
		Warning,   // `text`, said once
		Failed,    // `failure`: the recording stops; told before anything after it
	};
	Kind kind = Kind::Worn;
	double seconds = 0;
	long long gone = 0;
	int round = 0;
	int left = 0;
	bool on = false;
	size_t readings = 0;
	std::string text = {};
	const Failure *failure = nullptr; // Failed: valid during the call
};
using RecordEvents = std::function<void(const RecordEvent &event)>;

struct RecordOutcome {
	MaybeFailure failure; // told as a Failed event too, when it happened
	// The failure came after readings began: the file keeps those before.
	bool stopped_partway = false;
	size_t readings = 0;
	uint64_t lost = 0;
};

// Asks the driver for its calibration first, so that a driver that cannot
// be recorded leaves no file behind; then creates the file, never over an
// existing one, and polls into it a few times a second until the plan ends.
RecordOutcome RecordToFile(const RecordPlan &plan, const SendToDriver &send, const RecordEvents &events);

} // namespace zelvan::ctl
