// Tune's grid of settings and their replay through the driver's own
// detector (zelvan::ProximityAlgorithm), scored against what the wearer did.
#include "tools/zelvan_ctl/tuning/tune_replay.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "core/driver_settings.h"
#include "sensor/proximity_algorithm.h"

namespace zelvan::ctl {
namespace {

// Report periods as multiples of the recorded one; a longer period than 20
// times the recorded one adds nothing a longer window does not.
constexpr int32_t kPeriodMultiples[] = {1, 2, 4, 5, 10, 20};
// A slower report rate sees only some of the readings; which ones is chance,
// so it is replayed from this many evenly spread starts and the results
// averaged. One start would let it dodge a periodic spike by luck.
constexpr size_t kPhases = 4;
// About this many thresholds between the two levels: finer steps only find
// settings that fit this one recording's noise.
constexpr int64_t kThresholdSteps = 32;

// What a reading should make presence. The moving ones are the unlabelled
// readings of a move between two phases, from where the readings reach the
// next phase's level on: presence is timed from there, but may still switch
// back and forth while the headset moves.
constexpr uint8_t kUnlabelled = 0;
constexpr uint8_t kOn = 1;
constexpr uint8_t kOff = 2;
constexpr uint8_t kMovingOn = 3;
constexpr uint8_t kMovingOff = 4;

uint8_t DirectionOf(uint8_t code)
{
	return code == kMovingOn ? kOn : code == kMovingOff ? kOff : code;
}

uint8_t LabelCode(const std::string &label)
{
	return label == "on" ? kOn : label == "off" ? kOff : kUnlabelled;
}

} // namespace

size_t StepFor(const RecordingHeader &header, int32_t rate_ms)
{
	const uint32_t period = std::max<uint32_t>(header.report_period_ms, 1);
	return std::max<size_t>(1, (static_cast<uint32_t>(rate_ms) + period / 2) / period);
}

namespace {

uint32_t Median(std::vector<uint32_t> &values)
{
	if (values.empty())
		return 0;
	auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
	std::nth_element(values.begin(), middle, values.end());
	return *middle;
}

// The distance between the means of the readings' two-second averages (at
// least 8 readings) on either side of `split`, over the sum of their
// standard deviations.
double Separation(const Recording &recording, uint32_t split)
{
	const auto &readings = recording.readings;
	const size_t window = std::max<size_t>(8, 2000 / std::max<uint32_t>(recording.header.report_period_ms, 1));
	if (readings.size() < window)
		return 0;
	double count[2] = {0, 0};
	double sum[2] = {0, 0};
	double squares[2] = {0, 0};
	double in_window = 0;
	for (size_t i = 0; i < readings.size(); ++i) {
		in_window += readings[i].raw;
		if (i >= window)
			in_window -= readings[i - window].raw;
		if (i + 1 < window)
			continue;
		const double average = in_window / static_cast<double>(window);
		const int side = average >= split ? 1 : 0;
		count[side] += 1;
		sum[side] += average;
		squares[side] += average * average;
	}
	if (count[0] == 0 || count[1] == 0)
		return 0;
	double mean[2];
	double deviation[2];
	for (int side = 0; side < 2; ++side) {
		mean[side] = sum[side] / count[side];
		deviation[side] = std::sqrt(std::max(0.0, squares[side] / count[side] - mean[side] * mean[side]));
	}
	const double spread = deviation[0] + deviation[1];
	return spread > 0 ? (mean[1] - mean[0]) / spread : mean[1] > mean[0] ? kLevelsApart * 1000 : 0;
}

} // namespace

Levels LevelsOf(const Recording &recording)
{
	std::vector<uint32_t> on;
	std::vector<uint32_t> off;
	for (const auto &r : recording.readings) {
		const uint8_t code = LabelCode(r.label);
		if (code == kOn)
			on.push_back(r.raw);
		else if (code == kOff)
			off.push_back(r.raw);
	}
	const uint32_t hyst = recording.header.hyst;
	if (!on.empty() && !off.empty()) {
		const uint32_t low = Median(off);
		const uint32_t high = Median(on);
		return {high > low + 2 * hyst, 0, low, high, (low + high + 1) / 2};
	}

	std::vector<uint32_t> histogram(65536, 0);
	double total_sum = 0;
	for (const auto &r : recording.readings) {
		++histogram[r.raw];
		total_sum += r.raw;
	}
	const double total = static_cast<double>(recording.readings.size());
	double below = 0;
	double below_sum = 0;
	double best_spread = -1;
	uint32_t split = 0;
	for (uint32_t t = 1; t < histogram.size(); ++t) {
		below += histogram[t - 1];
		below_sum += static_cast<double>(t - 1) * histogram[t - 1];
		if (below == 0 || below == total)
			continue;
		const double mean_low = below_sum / below;
		const double mean_high = (total_sum - below_sum) / (total - below);
		const double spread = below * (total - below) * (mean_high - mean_low) * (mean_high - mean_low);
		if (spread > best_spread) {
			best_spread = spread;
			split = t;
		}
	}
	if (best_spread < 0)
		return {};
	std::vector<uint32_t> lows;
	std::vector<uint32_t> highs;
	for (const auto &r : recording.readings)
		(r.raw < split ? lows : highs).push_back(r.raw);
	// A few stray readings are not a second level.
	const size_t least = std::max<size_t>(20, recording.readings.size() / 50);
	if (lows.size() < least || highs.size() < least)
		return {};
	const uint32_t low = Median(lows);
	const uint32_t high = Median(highs);
	const double apart = Separation(recording, split);
	return {high > low + 2 * hyst && apart >= kLevelsApart, apart, low, high, split};
}

namespace {

// An unlabelled recording's phases, guessed from the levels: each reading
// takes the level most readings around it have, so that a spike or a
// noisy second is no phase. Without two clear levels there are none.
std::vector<uint8_t> GuessedLabels(const Recording &recording, const Levels &levels)
{
	std::vector<uint8_t> labels;
	const auto &readings = recording.readings;
	if (!levels.clear)
		return labels;
	// About a second each side, at least two readings.
	const size_t half = std::max<size_t>(2, 1000 / std::max<uint32_t>(recording.header.report_period_ms, 1));
	std::vector<uint32_t> worn(readings.size() + 1, 0); // worn[i]: readings before i at the worn level
	for (size_t i = 0; i < readings.size(); ++i)
		worn[i + 1] = worn[i] + (readings[i].raw >= levels.split ? 1 : 0);
	labels.reserve(readings.size());
	for (size_t i = 0; i < readings.size(); ++i) {
		const size_t from = i > half ? i - half : 0;
		const size_t to = std::min(readings.size(), i + half + 1);
		labels.push_back(2 * (worn[to] - worn[from]) > to - from ? kOn : kOff);
	}
	return labels;
}

int64_t NiceStep(int64_t at_least)
{
	for (int64_t scale = 1;; scale *= 10)
		for (const int64_t m : {1, 2, 5})
			if (m * scale >= at_least)
				return m * scale;
}

std::vector<int32_t> OffsetsFor(const Recording &recording, const Levels &levels, int64_t &step)
{
	const RecordingHeader &h = recording.header;
	const int64_t base = int64_t{h.thresh} + h.trim;
	const int64_t hyst = h.hyst;
	const int64_t current_t = base + h.threshold_offset;
	int64_t low_t = current_t;
	int64_t high_t = current_t;
	if (levels.clear && recording.Labelled()) {
		low_t = levels.low;
		high_t = levels.high;
	} else if (levels.clear) {
		// Unlabelled: only bands the average crosses at every real change.
		low_t = levels.low + hyst;
		high_t = levels.high - hyst;
	} else if (recording.Labelled()) {
		low_t = current_t - 4 * std::max<int64_t>(hyst, 25);
		high_t = current_t + 4 * std::max<int64_t>(hyst, 25);
	}
	low_t = std::max<int64_t>(low_t, 0);
	high_t = std::min<int64_t>(high_t, 65535);
	step = NiceStep(std::max<int64_t>(1, (high_t - low_t) / kThresholdSteps));
	std::vector<int32_t> offsets{h.threshold_offset};
	if (high_t <= low_t || (!levels.clear && !recording.Labelled()))
		return offsets;
	// Round offsets, so that the recommendation reads as a choice.
	auto floor_div = [](int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0 ? 1 : 0); };
	const int64_t first = -floor_div(base - low_t, step);
	const int64_t last = floor_div(high_t - base, step);
	// Only offsets the driver takes: presence must still switch both ways.
	const ProximityAlgorithm::OffsetRange switching = ProximityAlgorithm::SwitchingOffsets(CalibrationOf(h));
	for (int64_t k = first; k <= last; ++k) {
		const int64_t offset = k * step;
		if (offset != h.threshold_offset && offset >= kThresholdOffset.min && offset <= kThresholdOffset.max &&
		    offset >= switching.min && offset <= switching.max)
			offsets.push_back(static_cast<int32_t>(offset));
	}
	// In order, so that a setting's neighbours in the grid are the next
	// thresholds up and down.
	std::sort(offsets.begin(), offsets.end());
	return offsets;
}

std::vector<int32_t> RatesFor(const RecordingHeader &header)
{
	std::vector<int32_t> rates;
	for (const int32_t m : kPeriodMultiples) {
		const int64_t rate = int64_t{m} * header.report_period_ms;
		if (rate >= kReportRateMs.min && rate <= kReportRateMs.max)
			rates.push_back(static_cast<int32_t>(rate));
	}
	if (std::find(rates.begin(), rates.end(), header.report_rate_ms) == rates.end())
		rates.push_back(header.report_rate_ms);
	return rates;
}

} // namespace

Grid GridFor(const Recording &recording)
{
	Grid grid;
	grid.levels = LevelsOf(recording);
	const auto offsets = OffsetsFor(recording, grid.levels, grid.offset_step);
	grid.offsets = offsets.size();
	std::vector<int32_t> windows(std::begin(kWindows), std::end(kWindows));
	if (std::find(windows.begin(), windows.end(), recording.header.moving_avg_length) == windows.end())
		windows.push_back(recording.header.moving_avg_length);
	for (const int32_t rate : RatesFor(recording.header))
		for (const int32_t window : windows)
			for (const int32_t offset : offsets)
				grid.settings.push_back({window, offset, rate});
	return grid;
}

namespace {

// Follows the labelled phases while the detector is fed: when presence first
// matches a new label, and each switch away from it afterwards.
class LabelScorer {
public:
	// A replay from a reset: the phase state starts again, the counts and
	// times add up.
	void Start()
	{
		label_ = kUnlabelled;
		target_ = kUnlabelled;
		matched_ = false;
		strict_ = false;
		seen_label_ = false;
	}

	void End() { Close(); }

	// `before_ms`: the last reading before this one; the change happened
	// after it, so presence is as late as the time since then.
	void Reading(uint8_t label, uint32_t before_ms, bool present)
	{
		if (label == label_)
			return;
		const uint8_t direction = DirectionOf(label);
		label_ = label;
		strict_ = label == kOn || label == kOff;
		if (direction != kUnlabelled && direction == target_) {
			// The move is over and the phase proper starts: presence that
			// fell back during the move must come right again.
			if (present != (target_ == kOn))
				matched_ = false;
			return;
		}
		Close();
		target_ = direction;
		since_ms_ = before_ms;
		timed_ = false;
		matched_ = direction != kUnlabelled && present == (direction == kOn);
		if (direction == kUnlabelled)
			return;
		// The detector starts without presence: a first phase "off" is no change.
		const bool change = seen_label_ || !matched_;
		seen_label_ = true;
		if (!change)
			return;
		++score_.changes;
		if (matched_)
			Followed(0);
	}

	void Switched(uint32_t ms, bool present)
	{
		if (target_ == kUnlabelled)
			return;
		if (matched_) {
			if (strict_)
				++score_.false_switches;
		} else if (present == (target_ == kOn)) {
			matched_ = true;
			Followed(ms - since_ms_);
		}
	}

	// Counts as the mean of `replays`, rounded up: one miss in one of them
	// still shows.
	TuneScore Finish(uint32_t replays)
	{
		for (uint32_t *count : {&score_.changes, &score_.missed, &score_.false_switches})
			*count = (*count + replays - 1) / replays;
		score_.labelled = true;
		score_.on_changes = static_cast<uint32_t>(on_.size());
		score_.off_changes = static_cast<uint32_t>(off_.size());
		score_.on_worst_ms = on_.empty() ? 0 : *std::max_element(on_.begin(), on_.end());
		score_.off_worst_ms = off_.empty() ? 0 : *std::max_element(off_.begin(), off_.end());
		score_.on_median_ms = Median(on_);
		score_.off_median_ms = Median(off_);
		return score_;
	}

private:
	void Followed(uint32_t ms)
	{
		if (!timed_)
			(target_ == kOn ? on_ : off_).push_back(ms);
		timed_ = true;
	}

	void Close()
	{
		if (target_ != kUnlabelled && !matched_)
			++score_.missed;
	}

	uint8_t label_ = kUnlabelled;  // the reading's own code
	uint8_t target_ = kUnlabelled; // its direction
	uint32_t since_ms_ = 0;
	bool matched_ = false;
	bool strict_ = false; // a labelled reading, not a move
	bool timed_ = false;
	bool seen_label_ = false;
	std::vector<uint32_t> on_;
	std::vector<uint32_t> off_;
	TuneScore score_;
};

// The readings where the label changes: presence only changes on a fed
// reading, so the labels need looking at only there and at these.
std::vector<size_t> LabelChanges(const std::vector<uint8_t> &labels)
{
	std::vector<size_t> changes;
	for (size_t i = 0; i < labels.size(); ++i)
		if (i == 0 || labels[i] != labels[i - 1])
			changes.push_back(i);
	return changes;
}

// The detector fed every step-th reading from `phase` on.
void ReplayPhase(const Recording &recording, const std::vector<uint8_t> &labels, const std::vector<size_t> &changes,
                 const TuneSettings &settings, size_t step, size_t phase, ProximityAlgorithm &detector,
                 LabelScorer &scorer, TuneScore &counts)
{
	const auto &readings = recording.readings;
	detector.Reset(CalibrationOf(recording.header), settings.moving_avg_length, settings.threshold_offset);
	const bool labelled = !labels.empty();
	const bool guessed = !recording.Labelled();
	const uint32_t hyst = recording.header.hyst;
	const uint32_t t = ProximityAlgorithm::EffectiveThreshold(CalibrationOf(recording.header), settings.threshold_offset);
	const uint32_t band_low = t >= hyst ? t - hyst : 0;
	bool present = false;
	scorer.Start();
	size_t change = 0;
	auto follow_labels_to = [&](size_t last) {
		for (; change < changes.size() && changes[change] <= last; ++change) {
			const size_t at = changes[change];
			scorer.Reading(labels[at], readings[at > 0 ? at - 1 : 0].ms, present);
		}
	};
	for (size_t i = phase; i < readings.size(); i += step) {
		const uint32_t ms = readings[i].ms;
		follow_labels_to(i);
		detector.AddSample(readings[i].raw);
		if (detector.IsPersonDetected() != present) {
			present = !present;
			++counts.switches;
			if (labelled)
				scorer.Switched(ms, present);
		}
		if (guessed) {
			const uint32_t average = detector.GetSnapshot().averaged_prox;
			if (average >= band_low && average <= t + hyst) {
				const size_t next = i + step;
				const uint32_t until = next < readings.size() ? readings[next].ms : ms + static_cast<uint32_t>(settings.report_rate_ms);
				counts.band_ms += until - ms;
			}
		}
	}
	if (labelled)
		follow_labels_to(readings.size());
	scorer.End();
}

TuneScore Replay(const Recording &recording, const Targets &targets, const TuneSettings &settings,
                 ProximityAlgorithm &detector)
{
	const size_t step = StepFor(recording.header, settings.report_rate_ms);
	const size_t phases = std::min(step, kPhases);
	LabelScorer scorer;
	TuneScore counts;
	for (size_t k = 0; k < phases; ++k)
		ReplayPhase(recording, targets.labels, targets.changes, settings, step, k * step / phases, detector, scorer,
		            counts);
	TuneScore score = targets.labels.empty() ? TuneScore{} : scorer.Finish(static_cast<uint32_t>(phases));
	score.labelled = recording.Labelled();
	score.switches = static_cast<uint32_t>((counts.switches + phases - 1) / phases);
	score.band_ms = counts.band_ms / phases;
	return score;
}

// A guided recording leaves the move between two phases unlabelled. The
// move starts where the readings' level (as GuessedLabels tells it) turns to
// the next phase's; without two clear levels the next phase starts it.
void MarkMoves(std::vector<uint8_t> &labels, const std::vector<uint8_t> &guessed)
{
	uint8_t previous = kUnlabelled;
	for (size_t i = 0; i < labels.size();) {
		if (labels[i] != kUnlabelled) {
			previous = labels[i++];
			continue;
		}
		size_t end = i;
		while (end < labels.size() && labels[end] == kUnlabelled)
			++end;
		const uint8_t next = end < labels.size() ? labels[end] : kUnlabelled;
		if (previous != kUnlabelled && next != kUnlabelled && next != previous && !guessed.empty()) {
			size_t move = i;
			while (move < end && guessed[move] != next)
				++move;
			std::fill(labels.begin() + static_cast<std::ptrdiff_t>(move), labels.begin() + static_cast<std::ptrdiff_t>(end),
			          next == kOn ? kMovingOn : kMovingOff);
		}
		i = end;
	}
}

} // namespace

Targets TargetsOf(const Recording &recording, const Levels &levels)
{
	Targets targets;
	if (recording.Labelled()) {
		targets.labels.reserve(recording.readings.size());
		for (const auto &r : recording.readings)
			targets.labels.push_back(LabelCode(r.label));
		MarkMoves(targets.labels, GuessedLabels(recording, levels));
	} else {
		targets.labels = GuessedLabels(recording, levels);
	}
	targets.changes = LabelChanges(targets.labels);
	return targets;
}


std::vector<TuneCandidate> ReplayAll(const Recording &recording, const Targets &targets,
                                     const std::vector<TuneSettings> &grid)
{
	std::vector<TuneCandidate> scored(grid.size());
	std::atomic<size_t> next{0};
	auto work = [&] {
		ProximityAlgorithm detector(kMaxWindowLength);
		for (size_t i = next++; i < grid.size(); i = next++)
			scored[i] = {grid[i], Replay(recording, targets, grid[i], detector)};
	};
	const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
	std::vector<std::thread> pool;
	for (unsigned i = 1; i < threads; ++i)
		pool.emplace_back(work);
	work();
	for (auto &thread : pool)
		thread.join();
	return scored;
}

TuneSettings CurrentSettings(const RecordingHeader &header)
{
	return {header.moving_avg_length, header.threshold_offset, header.report_rate_ms};
}

TuneScore ScoreSettings(const Recording &recording, const TuneSettings &settings)
{
	ProximityAlgorithm detector(kMaxWindowLength);
	return Replay(recording, TargetsOf(recording, LevelsOf(recording)), settings, detector);
}

std::vector<ReplayPoint> ReplayTrace(const Recording &recording, const TuneSettings &settings)
{
	std::vector<ReplayPoint> trace;
	const size_t step = StepFor(recording.header, settings.report_rate_ms);
	ProximityAlgorithm detector(kMaxWindowLength);
	detector.Reset(CalibrationOf(recording.header), settings.moving_avg_length, settings.threshold_offset);
	for (size_t i = 0; i < recording.readings.size(); i += step) {
		detector.AddSample(recording.readings[i].raw);
		const ProximitySnapshot snapshot = detector.GetSnapshot();
		trace.push_back({recording.readings[i].ms, snapshot.averaged_prox, snapshot.person_detected});
	}
	return trace;
}

} // namespace zelvan::ctl
