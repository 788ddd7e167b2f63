// Tune's ranking: which of the replayed settings follow the wearer best,
// and whether that is clearly better than the current ones.
#include "tools/zelvan_ctl/tuning/tune.h"

#include <algorithm>
#include <cmath>

#include "tools/zelvan_ctl/tuning/tune_replay.h"
#include "tools/zelvan_ctl/tuning/tune_report.h"

namespace zelvan::ctl {
namespace {

// Labelled: the changes followed, then the false switches, then how long
// presence took. Unlabelled: the level changes followed, then the switches,
// then the time in the band. The switches count first as the most of the
// setting and its neighbours one threshold step up and down: a threshold
// that only just avoids the noise of this recording will not avoid the next.
struct Merit {
	uint64_t missed = 0;
	uint64_t switches_near = 0;
	uint64_t switches = 0;
	uint64_t rest = 0;
	auto operator<=>(const Merit &) const = default;
};

uint64_t Switches(const TuneScore &s)
{
	return s.labelled ? s.false_switches : s.switches;
}

// Presence within half a second of a move looks instant to the wearer;
// beyond that every second counts. So a quicker setting wins only where it
// is noticeably quicker, and a shorter window is not chosen to save 100 ms.
constexpr uint32_t kUnnoticedMs = 500;

uint64_t LatencyCost(const TuneScore &s)
{
	uint64_t cost = 0;
	for (const uint32_t ms : {s.on_median_ms, s.on_worst_ms, s.off_median_ms, s.off_worst_ms})
		cost += ms > kUnnoticedMs ? ms - kUnnoticedMs : 0;
	return cost;
}

std::vector<Merit> MeritsOf(const std::vector<TuneCandidate> &scored, size_t offsets)
{
	std::vector<Merit> merits(scored.size());
	for (size_t i = 0; i < scored.size(); ++i) {
		const TuneScore &s = scored[i].score;
		const size_t at = i % offsets;
		uint64_t near = Switches(s);
		if (at > 0)
			near = std::max(near, Switches(scored[i - 1].score));
		if (at + 1 < offsets)
			near = std::max(near, Switches(scored[i + 1].score));
		// Delays a quarter of a second apart, or band times a second apart,
		// are a tie that the smaller change wins.
		merits[i] = {s.missed, near, Switches(s), s.labelled ? LatencyCost(s) / 250 : s.band_ms / 1000};
	}
	return merits;
}

size_t IndexIn(const std::vector<int32_t> &values, int32_t value)
{
	return static_cast<size_t>(std::find(values.begin(), values.end(), value) - values.begin());
}

// How far settings are from the current ones, in grid steps: on a tie the
// smaller change is the one to make.
double Distance(const TuneSettings &a, const TuneSettings &current, int64_t offset_step)
{
	const std::vector<int32_t> windows(std::begin(kWindows), std::end(kWindows));
	auto window_index = [&](int32_t w) {
		const size_t at = IndexIn(windows, w);
		return at < windows.size() ? static_cast<double>(at) : std::log2(w) * 2;
	};
	return std::abs(window_index(a.moving_avg_length) - window_index(current.moving_avg_length)) +
	       std::abs(static_cast<double>(a.threshold_offset - current.threshold_offset)) / static_cast<double>(offset_step) +
	       std::abs(std::log2(static_cast<double>(a.report_rate_ms) / current.report_rate_ms));
}

// The best is taken only when it is clearly better: as many changes
// followed, as few false switches, and presence not slower by more than a
// quarter of a second or a tenth.
bool AsGoodAs(const TuneScore &current, const TuneScore &best)
{
	if (!best.labelled) {
		const uint64_t slack = std::max<uint64_t>(1000, best.band_ms / 10);
		return current.missed <= best.missed && current.switches <= best.switches &&
		       current.band_ms <= best.band_ms + slack;
	}
	const uint64_t slack = std::max<uint64_t>(250, LatencyCost(best) / 10);
	return current.missed <= best.missed && current.false_switches <= best.false_switches &&
	       LatencyCost(current) <= LatencyCost(best) + slack;
}

} // namespace

TuneResult Tune(const Recording &recording, size_t shown)
{
	const Grid grid = GridFor(recording);
	const Targets targets = TargetsOf(recording, grid.levels);
	TuneResult result;
	result.levels_clear = grid.levels.clear;
	result.low_level = grid.levels.low;
	result.high_level = grid.levels.high;
	const TuneSettings current = CurrentSettings(recording.header);
	result.current = {current, ScoreSettings(recording, current)};
	if (!recording.Labelled() && !grid.levels.clear) {
		result.cannot_tell = true;
		result.keep = true;
		result.recommended = result.current;
		result.reason = kCannotTell;
		return result;
	}
	const auto scored = ReplayAll(recording, targets, grid.settings);
	const auto merits = MeritsOf(scored, grid.offsets);
	result.candidates = scored.size();
	std::vector<double> distance(scored.size());
	std::vector<size_t> order;
	const TuneScore &now = result.current.score;
	for (size_t i = 0; i < scored.size(); ++i) {
		// The grid holds the current settings, so one at least is left.
		const TuneScore &s = scored[i].score;
		if (Switches(s) <= Switches(now) || s.missed < now.missed)
			order.push_back(i);
		distance[i] = Distance(scored[i].settings, current, grid.offset_step);
	}
	std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
		if (merits[a] != merits[b])
			return merits[a] < merits[b];
		if (distance[a] != distance[b])
			return distance[a] < distance[b];
		return scored[a].settings.report_rate_ms < scored[b].settings.report_rate_ms;
	});
	for (size_t i = 0; i < std::min(shown, order.size()); ++i)
		result.best.push_back(scored[order[i]]);

	const TuneCandidate &best = result.best.front();
	result.keep = AsGoodAs(result.current.score, best.score);
	result.recommended = result.keep ? result.current : best;
	result.reason = result.keep ? "the current settings are already best: " + Describe(result.current.score)
	                            : Reason(result.current.score, best.score);
	return result;
}

} // namespace zelvan::ctl
