// The presence switching times as Markdown tables: one per situation, a row
// per moving_avg_length, a column per report_rate_ms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sensor/user_signature.h"
#include "tools/presence_table/switching_time.h"

namespace zelvan::tuning {

struct TableLayout {
	UserSignature calibration; // thresh, hyst and trim are used
	uint16_t off = 300;
	uint16_t on = 2400;
	std::vector<int> windows{1, 4, 8, 16, 32, 64};
	std::vector<int> periods_ms{50, 100, 200, 500};
	// The driver's defaults, shown in bold.
	int default_window = 8;
	int default_period_ms = 200;
};

// One cell: readings x period, "never", or `already` when the level before
// the step gives the wanted state already.
std::string Cell(const SwitchResult &result, int period_ms, const char *already);

std::string MarkdownTables(const TableLayout &layout);

} // namespace zelvan::tuning
