// DriverLog's buffer limit and its sink's lifetime.
#include <gtest/gtest.h>

#include <string>

#include "core/driver_log.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

TEST(DriverLog, LinesUpTo1023CharactersArriveWholeAndLongerOnesAreCut)
{
	struct Case {
		size_t length;
		size_t delivered;
	};
	const Case cases[] = {{0, 0}, {1, 1}, {1022, 1022}, {1023, 1023}, {1024, 1023}, {5000, 1023}};
	test::FakeDriverLog sink;
	AttachDriverLog(&sink);
	for (const Case &c : cases) {
		const std::string text(c.length, 'x');
		DriverLog("%s", text.c_str());
	}
	DetachDriverLog();
	const auto lines = sink.Lines();
	ASSERT_EQ(lines.size(), std::size(cases));
	for (size_t i = 0; i < lines.size(); ++i)
		EXPECT_EQ(lines[i], std::string(cases[i].delivered, 'x')) << "length " << cases[i].length;
}

TEST(DriverLog, FormatsWithPrintfConventions)
{
	test::FakeDriverLog sink;
	AttachDriverLog(&sink);
	DriverLog("HID: Report rate set to %ums\n", 200u);
	DriverLog("Proximity: trim=%d %s\n", -200, "x");
	DetachDriverLog();
	EXPECT_EQ(sink.Lines(), (std::vector<std::string>{"HID: Report rate set to 200ms\n", "Proximity: trim=-200 x\n"}));
}

TEST(DriverLog, LinesWithoutASinkAreDropped)
{
	test::FakeDriverLog sink;
	DriverLog("before attach\n");
	AttachDriverLog(&sink);
	DriverLog("attached\n");
	DetachDriverLog();
	DriverLog("after detach\n");
	EXPECT_EQ(sink.Lines(), std::vector<std::string>{"attached\n"});
}

} // namespace
} // namespace zelvan
