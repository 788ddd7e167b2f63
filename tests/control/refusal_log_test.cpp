// Refused clients: a uid's first refusal is logged at once, the rest at most
// once a minute with their count, for each uid on its own.
#include <gtest/gtest.h>

#include "control/refusal_log.h"

namespace zelvan {
namespace {

TEST(RefusalLog, FirstRefusalAtOnceThenOneLineAMinutePerUid)
{
	const struct {
		unsigned uid;
		int64_t ms;
		unsigned line; // refusals the line covers; 0: no line
	} steps[] = {
		{65534, 1000, 1},  {65534, 1011, 0}, {65534, 30000, 0}, {1001, 30011, 1}, {65534, 60999, 0},
		{65534, 61000, 4}, {65534, 61011, 0}, {1001, 200000, 1}, {65534, 400000, 2}, {65534, 470000, 1},
	};
	RefusalLog log;
	for (const auto &s : steps)
		EXPECT_EQ(log.Refused(s.uid, s.ms), s.line) << "uid " << s.uid << " at " << s.ms << " ms";
	// A table full of other uids makes room for a new one, which logs at once.
	for (unsigned uid = 1; uid <= 9; ++uid)
		EXPECT_EQ(log.Refused(uid, 500000 + uid), 1u) << uid;
}

} // namespace
} // namespace zelvan
