// The tuning table's switching counts against the detector's known behaviour,
// and the rows it prints.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tools/presence_table/markdown_table.h"
#include "tools/presence_table/switching_time.h"

namespace zelvan::tuning {
namespace {

UserSignature Calibration(uint16_t thresh, uint16_t hyst, int16_t trim = 0)
{
	UserSignature sig;
	sig.proximity_threshold = thresh;
	sig.proximity_hysteresis = hyst;
	sig.user_trim = trim;
	return sig;
}

TEST(PresenceTable, CountsTheReadingsTheDetectorNeeds)
{
	const UserSignature def = Calibration(1500, 100);
	struct Case {
		const char *name;
		std::function<SwitchResult()> measure;
		SwitchResult::Kind kind;
		int readings;
	};
	const Case cases[] = {
		// The detector's own sequence: 250, 500, ... 1750 reaches 1600 at the seventh.
		{"N=8, 2000 from a reset", [&] { return OnFromReset(8, def, 2000); }, SwitchResult::Switched, 7},
		{"N=8, 2400 from a reset", [&] { return OnFromReset(8, def, 2400); }, SwitchResult::Switched, 6},
		// From a window full of 300, not of zeros: 300 + 262.5 k reaches 1600 at k = 5.
		{"N=8, on from a settled 300", [&] { return PutOn(8, def, 300, 2400); }, SwitchResult::Switched, 5},
		{"N=8, off from a settled 2400", [&] { return TakeOff(8, def, 2400, 300); }, SwitchResult::Switched, 4},
		{"N=64, off takes 31, not 32", [&] { return TakeOff(64, def, 2400, 300); }, SwitchResult::Switched, 31},
		{"N=1, exactly T+H turns on", [&] { return PutOn(1, def, 300, 1600); }, SwitchResult::Switched, 1},
		{"N=1, one below T+H never does", [&] { return PutOn(1, def, 300, 1599); }, SwitchResult::Never, 0},
		{"N=1, exactly T-H turns off", [&] { return TakeOff(1, def, 2400, 1400); }, SwitchResult::Switched, 1},
		{"N=1, one above T-H never does", [&] { return TakeOff(1, def, 2400, 1401); }, SwitchResult::Never, 0},
		{"an off level inside the band", [&] { return PutOn(8, def, 1500, 2400); }, SwitchResult::Switched, 1},
		{"an off level above the band", [&] { return PutOn(8, def, 1700, 2400); }, SwitchResult::AlreadySwitched, 0},
		{"an on level that never turns on", [&] { return TakeOff(8, def, 1550, 300); }, SwitchResult::AlreadySwitched, 0},
		{"negative trim lowers the edge", [&] { return PutOn(8, Calibration(1500, 100, -200), 300, 2000); },
		 SwitchResult::Switched, 6},
		{"no trim, the same step", [&] { return PutOn(8, def, 300, 2000); }, SwitchResult::Switched, 7},
		{"T below H never turns off", [&] { return TakeOff(4, Calibration(50, 100), 2400, 0); }, SwitchResult::Never, 0},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		const SwitchResult result = c.measure();
		EXPECT_EQ(result.kind, c.kind);
		EXPECT_EQ(result.readings, c.readings);
	}
}

TEST(PresenceTable, PrintsReadingsTimesThePeriodWithTheDefaultInBold)
{
	const std::string table = MarkdownTables(TableLayout{});
	const char *rows[] = {
		"| 8 | 5 | 250 ms | 500 ms | **1000 ms** | 2500 ms |\n",
		"| 8 | 4 | 200 ms | 400 ms | **800 ms** | 2000 ms |\n",
		"| 8 | 6 | 300 ms | 600 ms | **1200 ms** | 3000 ms |\n",
		"| 1 | 1 | 50 ms | 100 ms | 200 ms | 500 ms |\n",
		"| 64 | 31 | 1550 ms | 3100 ms | 6200 ms | 15500 ms |\n",
	};
	for (const char *row : rows)
		EXPECT_NE(table.find(row), std::string::npos) << row << "in\n" << table;

	TableLayout never;
	never.calibration = Calibration(50, 100);
	never.windows = {2};
	never.periods_ms = {100};
	EXPECT_NE(MarkdownTables(never).find("| 2 | never | never |\n"), std::string::npos) << MarkdownTables(never);
}

} // namespace
} // namespace zelvan::tuning
