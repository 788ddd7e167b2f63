// The persistence's decisions that need no console tool: the no-change
// rule, the serial checks, the tool look-up's failures and the default_mm
// edit.
#include <gtest/gtest.h>

#include <string>

#include "driver/device_provider.h"
#include "driver/driver_log.h"
#include "ipd/console_runner.h"
#include "ipd/ipd_persistence.h"
#include "ipd/serial_check.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/sim_run.h"

namespace zelvan {
namespace {

TEST(EditDefaultMm, ReplacesOnlyTheNumber)
{
	struct Case {
		const char *name;
		std::string text;
		DefaultMmEdit result;
		std::string edited;
	};
	const Case cases[] = {
		{"spaces around the colon", "{ \"default_mm\" : 63.5, \"max_mm\" : 72 }", DefaultMmEdit::Edited, "{ \"default_mm\" : 64.0, \"max_mm\" : 72 }"},
		{"no spaces", "{\"default_mm\":63.5}", DefaultMmEdit::Edited, "{\"default_mm\":64.0}"},
		{"tab before the value", "\"default_mm\":\t60\n", DefaultMmEdit::Edited, "\"default_mm\":\t64.0\n"},
		{"negative value", "\"default_mm\": -1.5,", DefaultMmEdit::Edited, "\"default_mm\": 64.0,"},
		{"first occurrence only", "\"default_mm\": 1, \"default_mm\": 2", DefaultMmEdit::Edited, "\"default_mm\": 64.0, \"default_mm\": 2"},
		{"CR LF kept", "{\r\n   \"default_mm\" : 63.5\r\n}\r\n", DefaultMmEdit::Edited, "{\r\n   \"default_mm\" : 64.0\r\n}\r\n"},
		{"value on the next line", "\"default_mm\" :\n 63.5", DefaultMmEdit::NoNumber, ""},
		{"value in quotes", "\"default_mm\" : \"63.5\"", DefaultMmEdit::NoNumber, ""},
		{"exponent", "\"default_mm\" : 6.35e1", DefaultMmEdit::NoNumber, ""},
		{"upper-case exponent", "\"default_mm\" : 6.35E+1", DefaultMmEdit::NoNumber, ""},
		{"plus sign", "\"default_mm\" : +63.5", DefaultMmEdit::NoNumber, ""},
		{"minus infinity", "\"default_mm\" : -inf", DefaultMmEdit::NoNumber, ""},
		{"beyond a float", "\"default_mm\" : " + std::string(400, '9'), DefaultMmEdit::NoNumber, ""},
		{"nothing after the colon", "\"default_mm\" :   ", DefaultMmEdit::NoNumber, ""},
		{"no colon", "\"default_mm\" 63.5", DefaultMmEdit::NoColon, ""},
		{"key without quotes", "{ default_mm : 63.5 }", DefaultMmEdit::KeyMissing, ""},
		{"short file", "\"default_m", DefaultMmEdit::KeyMissing, ""},
		{"other key", "\"default_mm_x\" : 1", DefaultMmEdit::KeyMissing, ""},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		std::string edited;
		EXPECT_EQ(EditDefaultMm(c.text, "64.0", edited), c.result);
		if (c.result == DefaultMmEdit::Edited)
			EXPECT_EQ(edited, c.edited);
	}
}

TEST(IsSafeSerial, LetsThroughOnlyPlainSerials)
{
	for (const char *ok : {"LHR-1A2B3C4D", "abc_def.1", "A", "QK1-0001", "..."})
		EXPECT_TRUE(IsSafeSerial(ok)) << ok;
	const std::string long_serial(64, 'a');
	for (const std::string bad : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
	                              std::string("a\\b"), std::string("a b"), std::string("LHR\r\nexit"),
	                              std::string("caf\xC3\xA9"), long_serial})
		EXPECT_FALSE(IsSafeSerial(bad)) << bad;
	EXPECT_TRUE(IsSafeSerial(std::string(63, 'a')));
	EXPECT_EQ(EscapeForLog("a\r\nb\"\\"), "a\\x0D\\x0Ab\\x22\\x5C");
}

class Persistence : public ::testing::Test {
protected:
	void SetUp() override
	{
		AttachDriverLog(&log);
		test::SetEnvironment("XDG_CONFIG_HOME", scratch.path().string());
		test::SetEnvironment("LOCALAPPDATA", scratch.path().string());
	}
	void TearDown() override { DetachDriverLog(); }

	std::vector<std::string> Persist(float initial, float current, const std::string &serial)
	{
		DeviceProvider p;
		p.initial_ipd_m = initial;
		p.current_ipd_m = current;
		p.config_serial = serial;
		PersistIpdToHeadset(p);
		return log.Lines();
	}

	test::FakeDriverLog log;
	test::ScratchDir scratch;
};

TEST_F(Persistence, SkipsWhenNothingChangedOrNothingIsKnown)
{
	struct Case {
		float initial, current;
		const char *line;
	};
	const Case cases[] = {
		{0.0635f, 0.0635f, "IPD Persist: No change during session (startup=0.0635 current=0.0635), skipping\n"},
		{0.0f, 0.064f, "IPD Persist: No change during session (startup=0.0000 current=0.0640), skipping\n"},
		{0.064f, 0.0f, "IPD Persist: No change during session (startup=0.0640 current=0.0000), skipping\n"},
		{0.0635f, 0.06355f, "IPD Persist: No change during session (startup=0.0635 current=0.0636), skipping\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.line);
		log.Clear();
		EXPECT_EQ(Persist(c.initial, c.current, "LHR-1"), std::vector<std::string>{c.line});
	}
}

TEST_F(Persistence, NeedsASafeSerialBeforeLookingForTheTool)
{
	EXPECT_EQ(Persist(0.0635f, 0.064f, ""),
	          std::vector<std::string>{"IPD Persist: WARNING -- tracking serial not available, cannot persist\n"});
	log.Clear();
	EXPECT_EQ(Persist(0.0635f, 0.064f, "X\r\ndownloadconfig C:\\evil"),
	          std::vector<std::string>{"IPD: Refusing unsafe serial \"X\\x0D\\x0Adownloadconfig C:\\x5Cevil\"\n"});
}

TEST_F(Persistence, EachToolLookupFailureHasItsLine)
{
	const std::string registry = (scratch.path() / "openvr" / "openvrpaths.vrpath").string();
	std::vector<std::string> lines = Persist(0.0635f, 0.064f, "LHR-1");
	ASSERT_EQ(lines.size(), 2u);
	EXPECT_EQ(lines[0], "IPD Persist: Failed to open " + registry + "\n");
	EXPECT_EQ(lines[1], std::string("IPD Persist: ") + kConsoleToolName + " not found, cannot persist\n");

	std::filesystem::create_directories(scratch.path() / "openvr");
	scratch.Write("openvr/openvrpaths.vrpath", "{ \"config\" : [ \"/x\" ] }");
	log.Clear();
	lines = Persist(0.0635f, 0.064f, "LHR-1");
	EXPECT_EQ(lines.front(), "IPD Persist: Could not extract runtime path from openvrpaths.vrpath\n");

	scratch.Write("openvr/openvrpaths.vrpath", "{ \"runtime\" : [ \"/nonexistent/SteamVR\" ] }");
	log.Clear();
	lines = Persist(0.0635f, 0.064f, "LHR-1");
	EXPECT_EQ(lines.front().rfind(std::string("IPD Persist: ") + kConsoleToolName + " not found at ", 0), 0u) << lines.front();
}

} // namespace
} // namespace zelvan
