// zelvan-presence-table: prints how long the detector takes to switch
// presence for each moving_avg_length and report_rate_ms, as Markdown.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/presence_table/markdown_table.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;

void Usage(std::FILE *out)
{
	std::fprintf(out,
		"Usage: zelvan-presence-table [OPTIONS]\n"
		"\n"
		"Feeds the driver's presence detector a step in the raw reading and prints,\n"
		"as Markdown tables, how long it takes presence to follow: putting the\n"
		"headset on, taking it off, and wearing it when the sensor opens (the\n"
		"detector then starts from a window of zeros). A row per moving_avg_length,\n"
		"a column per report_rate_ms; a time is readings x period.\n"
		"\n"
		"Options:\n"
		"  --on LEVEL        raw reading on the head (default 2400)\n"
		"  --off LEVEL       raw reading off the head (default 300)\n"
		"  --thresh T        calibrated threshold (default 1500)\n"
		"  --hyst H          calibrated hysteresis (default 100)\n"
		"  --trim X          user trim added to the threshold (default 0)\n"
		"  --windows LIST    moving_avg_length values, 1 to 64 (default 1,4,8,16,32,64)\n"
		"  --periods LIST    report_rate_ms values, 50 to 5000 (default 50,100,200,500)\n"
		"  -h, --help        this text\n"
		"\n"
		"LEVEL, T and H are 0 to 65535, X is -32768 to 32767. Exit status: 0, or 64\n"
		"for a usage error.\n");
}

std::optional<long> Integer(const char *text, long low, long high)
{
	long value = 0;
	const char *end = text + std::strlen(text);
	const auto [at, error] = std::from_chars(text, end, value);
	if (error != std::errc() || at != end || at == text || value < low || value > high)
		return std::nullopt;
	return value;
}

std::optional<std::vector<int>> IntegerList(const char *text, long low, long high)
{
	std::vector<int> values;
	std::string item;
	const std::string all = std::string(text) + ",";
	for (char c : all) {
		if (c != ',') {
			item += c;
			continue;
		}
		const std::optional<long> value = Integer(item.c_str(), low, high);
		if (!value)
			return std::nullopt;
		values.push_back(static_cast<int>(*value));
		item.clear();
	}
	return values;
}

int Bad(const char *option, const char *value)
{
	std::fprintf(stderr, "zelvan-presence-table: bad value for %s: '%s' (see --help)\n", option, value);
	return kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
	zelvan::tuning::TableLayout layout;
	for (int i = 1; i < argc; ++i) {
		const std::string arg = argv[i];
		if (arg == "-h" || arg == "--help") {
			Usage(stdout);
			return kExitOk;
		}
		const bool known = arg == "--on" || arg == "--off" || arg == "--thresh" || arg == "--hyst" || arg == "--trim" ||
			arg == "--windows" || arg == "--periods";
		if (!known) {
			std::fprintf(stderr, "zelvan-presence-table: unknown argument '%s'\n", argv[i]);
			Usage(stderr);
			return kExitUsage;
		}
		if (i + 1 >= argc) {
			std::fprintf(stderr, "zelvan-presence-table: %s needs a value\n", argv[i]);
			return kExitUsage;
		}
		const char *value = argv[++i];
		if (arg == "--windows" || arg == "--periods") {
			const bool windows = arg == "--windows";
			const auto list = windows ? IntegerList(value, 1, 64) : IntegerList(value, 50, 5000);
			if (!list)
				return Bad(argv[i - 1], value);
			(windows ? layout.windows : layout.periods_ms) = *list;
			continue;
		}
		const bool trim = arg == "--trim";
		const std::optional<long> number = trim ? Integer(value, -32768, 32767) : Integer(value, 0, 65535);
		if (!number)
			return Bad(argv[i - 1], value);
		if (arg == "--on")
			layout.on = static_cast<uint16_t>(*number);
		else if (arg == "--off")
			layout.off = static_cast<uint16_t>(*number);
		else if (arg == "--thresh")
			layout.calibration.proximity_threshold = static_cast<uint16_t>(*number);
		else if (arg == "--hyst")
			layout.calibration.proximity_hysteresis = static_cast<uint16_t>(*number);
		else
			layout.calibration.user_trim = static_cast<int16_t>(*number);
	}
	std::fputs(zelvan::tuning::MarkdownTables(layout).c_str(), stdout);
	return kExitOk;
}
