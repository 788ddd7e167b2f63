// zelvan-ctl's words: COMMAND --help prints that command's part of the usage
// and exits 0, without reaching the driver; send's words stay its text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/zelvan_ctl/cli/command_line.h"
#include "tools/zelvan_ctl/cli/usage.h"

namespace zelvan::ctl {
namespace {

TEST(CommandLine, CommandHelpPrintsThatCommandsUsage)
{
	// No driver serves this channel: a command that reached it exits 2.
	const std::vector<std::string> nobody = {"--channel", "zelvan-ctl-test-nobody", "--timeout", "0.2"};
	struct Row {
		std::vector<std::string> words;
		int exit;
		std::vector<std::string> shows; // rows of the full usage, in order
	};
	const Row rows[] = {
		{{"tune", "--help"}, 0, {"  tune FILE [--svg OUT] [--apply]\n"}},
		{{"tune", "plot.rec", "-h"}, 0, {"  tune FILE"}},
		{{"doctor", "--help"}, 0, {"  doctor                    check", "  doctor --fix [--dry-run]"}},
		{{"unregister", "--help"}, 0, {"  register FOLDER", "  unregister FOLDER"}},
		{{"register", "-h"}, 0, {"  register FOLDER", "  unregister FOLDER"}},
		{{"proximity", "on", "--help"}, 0,
		 {"  proximity on|off ", "  proximity auto", "  proximity on|off|auto --persist", "  proximity on|off --for"}},
		{{"send", "--help"}, 0, {"  send TEXT..."}},
		{{"report", "--help"}, 0, {"  report [FILE]"}},
		{{"report", "a.txt", "b.txt"}, 64, {}},
		{{"restore-config", "x.json", "--help"}, 0, {"  restore-config [--list]", "  restore-config FILE [--yes]"}},
		{{"send", "status", "--help"}, 2, {}},
		{{"nosuch", "--help"}, 2, {}},
		// The count-down's bounds: up to 10 s reaches the driver.
		{{"record", "--count-down", "10", "x.rec"}, 2, {}},
		{{"record", "--count-down", "11", "x.rec"}, 64, {}},
		// A timed hold's words: the driver checks the duration, the words are checked here.
		{{"proximity", "on", "--for", "10s"}, 2, {}},
		{{"proximity", "on", "--for"}, 64, {}},
		{{"proximity", "auto", "--for", "10s"}, 64, {}},
		{{"proximity", "--persist", "off", "--for", "10s"}, 64, {}},
	};
	const std::string full = FullUsage();
	for (const Row &row : rows) {
		std::vector<std::string> args = nobody;
		args.insert(args.end(), row.words.begin(), row.words.end());
		SCOPED_TRACE(row.words[0] + " " + row.words.back());
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		const int exit = RunCommandLine(args);
		const std::string out = testing::internal::GetCapturedStdout();
		testing::internal::GetCapturedStderr();
		EXPECT_EQ(exit, row.exit) << out;
		size_t at = 0;
		for (const std::string &shown : row.shows) {
			ASSERT_NE(full.find(shown), std::string::npos) << "not a row of the usage: " << shown;
			at = out.find(shown, at);
			EXPECT_NE(at, std::string::npos) << shown << " in:\n" << out;
		}
		if (row.exit == 0) {
			// Only the command's rows: none of another command.
			EXPECT_EQ(out.find("  status "), std::string::npos) << out;
		}
	}
}

} // namespace
} // namespace zelvan::ctl
