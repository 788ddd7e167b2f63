// Refused clients: a uid's first refusal is logged at once, the rest at most
// once a minute with their count, for each uid on its own, and a few lines a
// minute over all uids.
#include <gtest/gtest.h>

#include "control/refusal_log.h"

namespace zelvan {
namespace {

TEST(RefusalLog, FirstRefusalAtOnceThenOneLineAMinutePerUid)
{
	const struct {
		unsigned uid;
		int64_t ms;
		unsigned line;        // refusals the line covers; 0: no line
		unsigned summary = 0; // refusals the summary then counts; 0: none
	} steps[] = {
		{65534, 1000, 1},  {65534, 1011, 0}, {65534, 30000, 0}, {1001, 30011, 1}, {65534, 60999, 0},
		{65534, 61000, 4}, {65534, 61011, 0}, {1001, 200000, 1}, {65534, 400000, 2}, {65534, 470000, 1},
		// A uid whose entry makes room takes the refusals it counted since
		// its line into the summary (uid 18's line and uid 500's two).
		{500, 1000000, 1}, {500, 1000010, 0}, {500, 1000020, 0}, {11, 1000030, 1}, {12, 1000040, 1},
		{13, 1000050, 1}, {14, 1000060, 1}, {15, 1000070, 1}, {16, 1000080, 1}, {17, 1000090, 1},
		{18, 1000100, 0}, {19, 1070000, 1, 3},
	};
	RefusalLog log;
	for (const auto &s : steps) {
		EXPECT_EQ(log.Refused(s.uid, s.ms), s.line) << "uid " << s.uid << " at " << s.ms << " ms";
		unsigned refusals = 0, lines = 0, seconds = 0;
		EXPECT_EQ(log.TakeSummary(s.ms, refusals, lines, seconds), s.summary > 0) << s.ms << " ms";
		EXPECT_EQ(refusals, s.summary) << s.ms << " ms";
	}
	// A table full of other uids makes room for a new one, which logs at once
	// (within the interval's lines).
	for (unsigned uid = 1; uid <= 7; ++uid)
		EXPECT_EQ(log.Refused(uid, 2000000 + uid), 1u) << uid;
}

// A client that connects every 10 ms under uids in rotation, for 4 s: a few
// lines in the minute, then one summary of the rest with the next interval's
// first refusal, which names the span since the first refusal it counts.
TEST(RefusalLog, RotatingUidsShareAFewLinesAMinute)
{
	const struct {
		unsigned uids;
		unsigned lines;         // in the first minute
		unsigned summary;       // refusals the next minute's summary counts; 0: none
		unsigned summary_lines; // the lines it stands for
		int64_t next_ms;        // the next interval's first refusal
		unsigned seconds;       // the span it names
	} rows[] = {
		{1, 1, 0, 0, 60000, 0},
		{8, 8, 0, 0, 60000, 0},
		{10, 8, 393, 393, 60000, 60},
		{1000, 8, 393, 393, 60000, 60},
		// The first refusal left out came at 80 ms.
		{10, 8, 393, 393, 77081, 78},
		{10, 8, 393, 393, 137080, 137},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(::testing::Message() << row.uids << " uids, next at " << row.next_ms << " ms");
		RefusalLog log;
		unsigned lines = 0, left_out = 0, left_out_lines = 0, seconds = 0;
		for (int64_t ms = 0; ms <= 4000; ms += 10) {
			if (log.Refused(7000 + static_cast<unsigned>(ms / 10) % row.uids, ms) > 0)
				++lines;
			EXPECT_FALSE(log.TakeSummary(ms, left_out, left_out_lines, seconds)) << ms << " ms";
		}
		EXPECT_EQ(lines, row.lines);
		EXPECT_EQ(log.Refused(9999, row.next_ms), 1u);
		EXPECT_EQ(log.TakeSummary(row.next_ms, left_out, left_out_lines, seconds), row.summary > 0);
		EXPECT_EQ(left_out, row.summary);
		EXPECT_EQ(left_out_lines, row.summary_lines);
		EXPECT_EQ(seconds, row.seconds);
		EXPECT_FALSE(log.TakeSummary(row.next_ms, left_out, left_out_lines, seconds));
	}
}

} // namespace
} // namespace zelvan
