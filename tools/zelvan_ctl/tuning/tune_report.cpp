// What tune says: the recording, the scores and the recommendation, as
// text that the command line prints and the panel shows.
#include "tools/zelvan_ctl/tuning/tune_report.h"

#include <cstdio>

#include "sensor/proximity_algorithm.h"
#include "tools/zelvan_ctl/tuning/tune_replay.h"

namespace zelvan::ctl {
namespace {

std::string Seconds(uint64_t ms)
{
	char text[32];
	std::snprintf(text, sizeof(text), ms < 10000 ? "%.1f s" : "%.0f s", static_cast<double>(ms) / 1000.0);
	return text;
}

std::string SettingsText(const TuneSettings &s)
{
	return "moving_avg_length=" + std::to_string(s.moving_avg_length) + " threshold_offset=" +
	       std::to_string(s.threshold_offset) + " report_rate_ms=" + std::to_string(s.report_rate_ms);
}

std::string Plural(uint64_t n, const char *one, const char *many)
{
	return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Latencies(const TuneScore &s)
{
	std::string text;
	if (s.on_changes > 0)
		text += "put on in " + Seconds(s.on_median_ms) + " median, " + Seconds(s.on_worst_ms) + " worst";
	if (s.off_changes > 0)
		text += std::string(text.empty() ? "" : "; ") + "taken off in " + Seconds(s.off_median_ms) + " median, " +
		        Seconds(s.off_worst_ms) + " worst";
	return text;
}

} // namespace

std::string Describe(const TuneScore &s)
{
	const std::string missed = s.missed == 0 ? "" : ", " + std::to_string(s.missed) + " of " + std::to_string(s.changes) +
	                                                    (s.labelled ? " changes" : " level changes") + " never followed";
	if (!s.labelled)
		return Plural(s.switches, "switch", "switches") + ", " + Seconds(s.band_ms) + " in the switching band" + missed;
	std::string text = Plural(s.false_switches, "false switch", "false switches") + missed;
	const std::string latencies = Latencies(s);
	return latencies.empty() ? text : text + "; " + latencies;
}

std::string Reason(const TuneScore &now, const TuneScore &best)
{
	std::string text;
	const std::string changes = best.labelled ? "changes" : "level changes";
	if (best.missed != now.missed)
		text = best.missed == 0 ? "follows every one of the " + changes + " instead of missing " + std::to_string(now.missed) + "; "
		                        : "misses " + std::to_string(best.missed) + " " + changes + " instead of " + std::to_string(now.missed) + "; ";
	if (!best.labelled)
		return text + Plural(best.switches, "switch", "switches") + " instead of " + std::to_string(now.switches) + "; " +
		       Seconds(best.band_ms) + " in the switching band instead of " + Seconds(now.band_ms);
	if (best.false_switches != now.false_switches)
		text += Plural(best.false_switches, "false switch", "false switches") + " instead of " +
		        std::to_string(now.false_switches) + "; " + Latencies(best);
	else if (best.missed != now.missed || Latencies(now).empty())
		// Following more changes is the reason; times of different changes do not compare.
		text += "as many false switches (" + std::to_string(best.false_switches) + "); " + Latencies(best);
	else
		text += "as many false switches (" + std::to_string(best.false_switches) + ") and quicker: " + Latencies(best) +
		        " instead of " + Latencies(now);
	return text;
}

std::string FormatTuneReport(const Recording &recording, const TuneResult &result)
{
	if (recording.readings.empty() || (result.best.empty() && !result.cannot_tell))
		return "the recording holds no readings\n";
	const RecordingHeader &h = recording.header;
	const auto &readings = recording.readings;
	std::string out;
	char line[256];
	std::snprintf(line, sizeof(line), "recording: %zu readings over %s, every %u ms, %s\n", readings.size(),
	              Seconds(readings.back().ms - readings.front().ms).c_str(), h.report_period_ms,
	              recording.Labelled() ? "labelled" : "not labelled");
	out += line;
	std::snprintf(line, sizeof(line), "calibration: cal=%u thresh=%u hyst=%u trim=%d; %zu settings replayed\n", h.cal,
	              h.thresh, h.hyst, h.trim, result.candidates);
	out += line;
	// Unlabelled, either the levels are clear or tune stops below.
	if (!recording.Labelled())
		out += result.levels_clear ? "not worn at about " + std::to_string(result.low_level) + ", worn at about " +
		                                 std::to_string(result.high_level) + "; phases guessed from these levels\n"
		                           : "the readings show no separate worn and not-worn levels\n";
	out += "current: " + SettingsText(result.current.settings) + ": " + Describe(result.current.score) + "\n\n";
	if (result.cannot_tell)
		return out + kCannotTell + "\n";

	const bool labelled = result.current.score.labelled;
	out += labelled ? "  window  offset  rate ms  threshold  false  missed  on median/worst   off median/worst\n"
	                : "  window  offset  rate ms  threshold  switches  missed  in band\n";
	const UserSignature calibration = CalibrationOf(h);
	for (const auto &c : result.best) {
		const TuneSettings &s = c.settings;
		const unsigned t = ProximityAlgorithm::EffectiveThreshold(calibration, s.threshold_offset);
		if (labelled) {
			auto pair = [](uint32_t n, uint32_t median, uint32_t worst) {
				return n == 0 ? std::string("-") : Seconds(median) + " / " + Seconds(worst);
			};
			std::snprintf(line, sizeof(line), "  %6d  %6d  %7d  %9u  %5u  %6u  %-16s  %-16s%s\n", s.moving_avg_length,
			              s.threshold_offset, s.report_rate_ms, t, c.score.false_switches, c.score.missed,
			              pair(c.score.on_changes, c.score.on_median_ms, c.score.on_worst_ms).c_str(),
			              pair(c.score.off_changes, c.score.off_median_ms, c.score.off_worst_ms).c_str(),
			              s == result.current.settings ? "  (current)" : "");
		} else {
			std::snprintf(line, sizeof(line), "  %6d  %6d  %7d  %9u  %8u  %6u  %7s%s\n", s.moving_avg_length,
			              s.threshold_offset, s.report_rate_ms, t, c.score.switches, c.score.missed,
			              Seconds(c.score.band_ms).c_str(),
			              s == result.current.settings ? "  (current)" : "");
		}
		out += line;
	}
	out += "\nrecommend: " + std::string(result.keep ? "keep " : "") + SettingsText(result.recommended.settings) +
	       " (" + result.reason + ")\n";
	return out;
}

} // namespace zelvan::ctl
