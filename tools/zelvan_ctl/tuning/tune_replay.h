// Tune's replay, shared by its ranking, report and plot: the levels of a
// recording, the grid of settings tried and what presence should follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/tune.h"

namespace zelvan::ctl {

// The averaging windows tried: the driver's range, in steps a wearer notices.
inline constexpr int32_t kWindows[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64};

// The raw level while worn and while not: the labels' medians, else the
// medians of the two classes that split the readings best (Otsu's method).
// Without labels the split always finds two classes, even in the noise of a
// headset worn the whole time. So the levels are clear only when the
// readings' moving averages over two seconds (at least 8 readings; an
// average is what the detector looks at), split at the same point, form two
// groups whose means are at least kLevelsApart times the sum of their
// standard deviations apart. Noise around one level gives about 1.3
// (normal) to 1.7 (uniform) whatever its size: 1900 +/- 500 worn the whole
// time gives 1.4; a wearer who takes the headset off gives far more (on
// 1520 +/- 550, off 300 +/- 550 about 5).
inline constexpr double kLevelsApart = 3.0;

struct Levels {
	bool clear = false;
	double apart = 0; // unlabelled: the separation measured, as above
	uint32_t low = 0;
	uint32_t high = 0;
	uint32_t split = 0; // readings at or above it are the worn level
};

Levels LevelsOf(const Recording &recording);

// Every setting tried, and the offsets' step between neighbours.
struct Grid {
	Levels levels;
	std::vector<TuneSettings> settings; // the offsets vary fastest
	size_t offsets = 1;
	int64_t offset_step = 1;
};

Grid GridFor(const Recording &recording);

// What each reading should make presence, and where that changes.
struct Targets {
	std::vector<uint8_t> labels; // none: an unlabelled recording without clear levels
	std::vector<size_t> changes;
};

Targets TargetsOf(const Recording &recording, const Levels &levels);

// How many recorded readings one report at `rate_ms` spans.
size_t StepFor(const RecordingHeader &header, int32_t rate_ms);

// Scores every setting of the grid on all cores, each with its own detector.
std::vector<TuneCandidate> ReplayAll(const Recording &recording, const Targets &targets,
                                     const std::vector<TuneSettings> &grid);

} // namespace zelvan::ctl
