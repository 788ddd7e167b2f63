// Tuning: replays a recording through the driver's own detector for many
// settings and recommends the ones that follow the wearer best.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/zelvan_ctl/tuning/recording.h"

namespace zelvan::ctl {

struct TuneSettings {
	int32_t moving_avg_length = 8;
	int32_t threshold_offset = 0;
	int32_t report_rate_ms = 200;
	bool operator==(const TuneSettings &) const = default;
};

// How one set of settings did on the recording. A labelled recording counts
// the changes of its "on"/"off" labels; an unlabelled one only the
// detector's own switches and its time inside the switching band.
struct TuneScore {
	bool labelled = false;
	// Unlabelled, the phases are guessed from the two levels of the readings.
	uint32_t changes = 0;        // phases presence had to follow
	uint32_t missed = 0;         // phases presence never matched
	uint32_t false_switches = 0; // labelled: away from the label once matched
	uint32_t on_changes = 0;
	uint32_t on_median_ms = 0;
	uint32_t on_worst_ms = 0;
	uint32_t off_changes = 0;
	uint32_t off_median_ms = 0;
	uint32_t off_worst_ms = 0;
	uint32_t switches = 0; // every switch of presence
	uint64_t band_ms = 0;  // the average inside [T-H, T+H]
};

struct TuneCandidate {
	TuneSettings settings;
	TuneScore score;
};

struct TuneResult {
	TuneCandidate current;
	std::vector<TuneCandidate> best; // best first
	TuneCandidate recommended;       // the current settings when they are as good
	bool keep = false;
	std::string reason;
	size_t candidates = 0; // how many settings were replayed
	// An unlabelled recording without two clear levels: nothing to score
	// against, so nothing is recommended (kCannotTell says why).
	bool cannot_tell = false;
	// The raw level worn and not worn, from the labels or the readings.
	bool levels_clear = false;
	uint32_t low_level = 0;
	uint32_t high_level = 0;
};

inline constexpr const char *kCannotTell = "cannot tell worn from not worn in this recording; record with --guided";

// The settings the recording was taken with, as a candidate.
TuneSettings CurrentSettings(const RecordingHeader &header);

// Replays every setting of the grid; `shown` is how many of the best to keep.
// Only settings that switch no more than the current ones are recommended
// (falsely, when labelled), unless they follow changes the current ones miss.
TuneResult Tune(const Recording &recording, size_t shown = 5);

// One candidate's replay, for a test or the plot.
TuneScore ScoreSettings(const Recording &recording, const TuneSettings &settings);

// Every reading the detector is fed at these settings, with its average and
// presence afterwards.
struct ReplayPoint {
	uint32_t ms = 0;
	uint32_t average = 0;
	bool present = false;
};
std::vector<ReplayPoint> ReplayTrace(const Recording &recording, const TuneSettings &settings);

// What `tune` prints: the recording, the current score, the best table and
// the recommendation line.
std::string FormatTuneReport(const Recording &recording, const TuneResult &result);

} // namespace zelvan::ctl
