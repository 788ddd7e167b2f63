// Markdown rendering of the switching times.
#include "tools/presence_table/markdown_table.h"

#include <functional>

#include "sensor/proximity_algorithm.h"

namespace zelvan::tuning {
namespace {

using Measure = std::function<SwitchResult(int window)>;

std::string Readings(const SwitchResult &result)
{
	switch (result.kind) {
	case SwitchResult::Switched:
		return std::to_string(result.readings);
	case SwitchResult::Never:
		return "never";
	case SwitchResult::AlreadySwitched:
		break;
	}
	return "-";
}

std::string Table(const TableLayout &layout, const std::string &title, const Measure &measure, const char *already)
{
	std::string out = "### " + title + "\n\n| moving_avg_length | readings |";
	std::string rule = "|---:|---:|";
	for (int period : layout.periods_ms) {
		out += " " + std::to_string(period) + " ms |";
		rule += "---:|";
	}
	out += "\n" + rule + "\n";
	for (int window : layout.windows) {
		const SwitchResult result = measure(window);
		out += "| " + std::to_string(window) + " | " + Readings(result) + " |";
		for (int period : layout.periods_ms) {
			const std::string cell = Cell(result, period, already);
			const bool strong = window == layout.default_window && period == layout.default_period_ms;
			out += " " + (strong ? "**" + cell + "**" : cell) + " |";
		}
		out += "\n";
	}
	return out + "\n";
}

} // namespace

std::string Cell(const SwitchResult &result, int period_ms, const char *already)
{
	switch (result.kind) {
	case SwitchResult::Switched:
		return std::to_string(result.readings * period_ms) + " ms";
	case SwitchResult::Never:
		return "never";
	case SwitchResult::AlreadySwitched:
		break;
	}
	return already;
}

std::string MarkdownTables(const TableLayout &layout)
{
	const UserSignature &cal = layout.calibration;
	const int eff = ProximityAlgorithm::EffectiveThreshold(cal);
	const int hyst = cal.proximity_hysteresis;
	const std::string off = std::to_string(layout.off);
	const std::string on = std::to_string(layout.on);
	// The detector never turns off when the threshold is below the hysteresis.
	const std::string off_edge = eff >= hyst ? "falls to " + std::to_string(eff - hyst) : "never falls below the band";

	std::string out = "Calibration thresh " + std::to_string(cal.proximity_threshold) + ", hyst " + std::to_string(hyst) +
		", trim " + std::to_string(cal.user_trim) + ": presence turns on when the average reaches " +
		std::to_string(eff + hyst) + " and off when it " + off_edge + ". Raw readings: off head " + off +
		", on head " + on + ".\n\n" +
		"A time is the readings needed times the report period (`report_rate_ms`): the reading that crosses the "
		"band's edge switches presence, and the level can change just after a reading, so this is the longest wait; "
		"the runtime hears of it in the next frame. Bold: the defaults (`moving_avg_length` " +
		std::to_string(layout.default_window) + ", " + std::to_string(layout.default_period_ms) + " ms).\n\n";

	out += Table(layout, "Putting the headset on (" + off + " to " + on + ", the average settled at " + off + ")",
	             [&](int w) { return PutOn(w, cal, layout.off, layout.on); }, "already on");
	out += Table(layout, "Taking it off (" + on + " to " + off + ", the average settled at " + on + ")",
	             [&](int w) { return TakeOff(w, cal, layout.on, layout.off); }, "never on");
	out += Table(layout, "Already on when the sensor opens or reconnects (" + on +
	                       " from a reset: the average starts from a window of zeros)",
	             [&](int w) { return OnFromReset(w, cal, layout.on); }, "already on");
	return out;
}

} // namespace zelvan::tuning
