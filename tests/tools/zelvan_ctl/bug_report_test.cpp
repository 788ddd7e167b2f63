// zelvan-ctl report against the doctor's scratch layouts: each section says
// what it found or why it found nothing, and the user's home folder and name
// appear in none of their spellings.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "tests/tools/zelvan_ctl/doctor_fixture.h"
#include "tools/zelvan_ctl/doctor/bug_report.h"

namespace zelvan::test {
namespace {

#if defined(_WIN32)
const bool kFoldCase = true;
const char *const kHomeVar = "USERPROFILE", *const kUserVar = "USERNAME";
#else
const bool kFoldCase = false;
const char *const kHomeVar = "HOME", *const kUserVar = "USER";
#endif
const std::string kUser = "Jos\xC3\xA9"; // the profile folder of kJoseJeuxVideo

TEST(Report, HomeAndUserNameAreTakenOutInEverySpelling)
{
	const struct {
		std::string text, home, user;
		bool fold_case;
		std::string expected;
	} rows[] = {
		{"/home/alice/x and /home/alice.", "/home/alice/", "alice", false, "~/x and ~."},
		// Another folder that begins with the home, and the name inside a word.
		{"/home/alice2/x malice alice_x", "/home/alice", "alice", false, "/home/alice2/x malice <user>_x"},
		{"/HOME/ALICE Alice", "/home/alice", "alice", false, "/HOME/ALICE Alice"},
		{R"("C:\\Users\\Alice\\x" C:\Users\Alice c:/users/alice/y ALICE)", R"(C:\Users\Alice)", "Alice", true,
		 R"("~\\x" ~ ~/y <user>)"},
		{"Jos\xC3\xA9's Jos\xC3\xA9" "e", "/home/x", kUser, false, "<user>'s <user>e"},
		// Windows names ignore the case of letters beyond ASCII too: Latin, Greek, Cyrillic.
		{"c:\\users\\JOS\xC3\x89\\x JOS\xC3\x89 \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", "C:\\Users\\Jos\xC3\xA9", kUser, true,
		 "~\\x <user> \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
		{"\xD0\x98\xD0\x92\xD0\x90\xD0\x9D's", "C:\\Users\\x", "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD", true, "<user>'s"},
		// A name outside UTF-8 reaches the report escaped, in JSON doubled too.
		{R"(/home/jos\xE9/x "/home/jos\\xE9/y" jos\xE9's jos\\xE9)", "/home/jos\xE9", "jos\xE9", false,
		 R"(~/x "~/y" <user>'s <user>)"},
		// Too short to tell from other text.
		{"a b /", "/", "a", false, "a b /"},
		{R"(C:\Program Files c:/x)", R"(C:\)", "a", true, R"(C:\Program Files c:/x)"},
	};
	for (const auto &row : rows)
		EXPECT_EQ(ctl::RemoveHomeAndUser(row.text, row.home, row.user, row.fold_case), row.expected) << row.text;
}

std::string Section(const std::string &report, const std::string &heading)
{
	const size_t begin = report.find("\n== " + heading + " ==\n");
	if (begin == std::string::npos)
		return "(no section " + heading + ")";
	const size_t end = report.find("\n== ", begin + 1);
	return report.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

bool Holds(const std::string &text, std::string what)
{
	std::string haystack = text;
	if (kFoldCase)
		for (std::string *s : {&haystack, &what})
			for (char &c : *s)
				c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
	return haystack.find(what) != std::string::npos;
}

std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
	for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
		text.replace(at, from.size(), to);
	return text;
}

std::string Lines(const std::string &prefix, int from, int to)
{
	std::string out;
	for (int i = from; i < to; ++i)
		out += prefix + std::to_string(1000 + i) + "\r\n";
	return out;
}

TEST(Report, SectionsSayWhatTheyFoundAndWhyNot)
{
	const auto log = [](Layout &l, const std::string &text) { WriteFile(l.logs / "vrserver.txt", text); };
	const struct {
		const char *name;
		std::function<void(Layout &)> lay_out;
		const char *section;
		std::vector<std::string> shows;
		std::string hides = {};
		bool file_is_the_log = false; // FILE is where vrserver.txt would be
	} rows[] = {
		{"versions", [](Layout &l) { l.Registered(); }, "versions",
		 {"zelvan-ctl ", std::string("driver folder: ~") + kSeparator + "zelvanproximity", "system: "}},
		{"doctor", [](Layout &) {}, "doctor --json", {"[{\"check\":\"steamvr\",\"found\":\"runtime ~"}},
		{"no driver", [](Layout &) {}, "driver status", {"no status: nothing answers on "}},
		{"settings as written",
		 [](Layout &l) { WriteFile(SettingsPath(l), SettingsWith({{"driver_ZelvanProximity", {{"note", kUser + "'s"}, {"ipd_mm", 63.5}}}})); },
		 "SteamVR settings", {"\"driver_ZelvanProximity\" : {\n      \"ipd_mm\" : 63.5,\n      \"note\" : \"<user>'s\"\n   }\n"},
		 "driver_vridge"},
		{"a comment in the section steers no terminal",
		 [](Layout &l) { WriteFile(SettingsPath(l), "{ \"driver_ZelvanProximity\" : {\n\t// \x1B[2J cleared\n\t\"ipd_mm\" : 63.5 } }"); },
		 "SteamVR settings", {"\t// \\x1B[2J cleared\n\t\"ipd_mm\" : 63.5 }"}},
		{"settings: the section twice, the last one in force",
		 [](Layout &l) {
			 WriteFile(SettingsPath(l), "{ \"driver_ZelvanProximity\" : { \"ipd_mm\" : 60 },\n"
			                            "  \"driver_ZelvanProximity\" : { \"presence_mode\" : \"on\" } }");
		 },
		 "SteamVR settings",
		 {"2 \"driver_ZelvanProximity\" members in it; SteamVR takes the last:\n"
		  "\"driver_ZelvanProximity\" : { \"presence_mode\" : \"on\" }\n"}},
		{"settings not JSON", [](Layout &l) { WriteFile(SettingsPath(l), "{ \"driver_ZelvanProximity\" : {"); },
		 "SteamVR settings", {"not read: the file is not JSON"}},
		{"registry: ours named, others counted",
		 [](Layout &l) {
			 const fs::path ours = l.Registered();
			 fs::create_directories(l.dir.path() / "old" / "other_driver");
			 l.Patch({{"external_drivers", {Utf8String(l.dir.path() / "old" / "other_driver"), Utf8String(ours),
			                                Utf8String(l.dir.path() / "old" / "zelvanproximity")}}});
		 },
		 "path registry",
		 {std::string("external_drivers: ~") + kSeparator + "zelvanproximity\n",
		  std::string("zelvanproximity (gone)\n"), "1 other driver folder (not named)", "log: ~"},
		 "other_driver"},
		{"no log", [](Layout &) {}, "vrserver.txt", {"not read: no ~"}},
#if !defined(_WIN32)
		// Read, it would hold the report until someone writes to it.
		{"a FIFO for a log", [](Layout &l) { fs::create_directories(l.logs); ASSERT_EQ(mkfifo((l.logs / "vrserver.txt").c_str(), 0600), 0); },
		 "vrserver.txt", {"vrserver.txt is not a file"}},
#endif
		// Nothing stands at FILE while the report waits on the driver, so a
		// report stopped there leaves no empty file.
		{"FILE is not there while the report is made", [](Layout &l) { fs::create_directories(l.logs); },
		 "vrserver.txt", {"not read: no ~"}, {}, true},
		{"the last 200 of the driver's lines, any case",
		 [&](Layout &l) { log(l, Lines("ZELVANPROXIMITY ", 0, 150) + Lines("vrserver: ", 0, 99) + Lines("zelvan-ctl ", 150, 250)); },
		 "vrserver.txt", {"the last 200 lines", "ZELVANPROXIMITY 1050\n", "zelvan-ctl 1249\n"}, "ZELVANPROXIMITY 1049"},
		{"binary",
		 [&](Layout &l) { log(l, std::string("\xFF zelvan \x1B[2J\n") + '\0' + "zelvan\x01\n\n" + '\0' + "\nZelvan\tlast"); },
		 "vrserver.txt", {"\\xFF zelvan \\x1B[2J\nZelvan\\x09last\n2 lines with NUL bytes left out"}},
		{"huge",
		 [&](Layout &l) {
			 std::string text = "ZelvanProximity: before the last 16 MiB\n";
			 while (text.size() < (size_t{17} << 20))
				 text += Lines("vrserver: a line that is not the driver's ", 0, 1000);
			 log(l, text + std::string(size_t{100} << 10, 'z') + "\nzelvan: the last line");
		 },
		 "vrserver.txt", {"; read from its end, its last 16777216 bytes", "\nzelvan: the last line\n",
		                  "1 line longer than 65536 bytes left out"},
		 "before the last 16 MiB"},
	};
	for (const auto &row : rows) {
		SCOPED_TRACE(row.name);
		Layout layout(kJoseJeuxVideo);
		row.lay_out(layout);
		const std::string home = Utf8String(layout.dir.path());
		const fs::path file = row.file_is_the_log ? layout.logs / "vrserver.txt" : layout.dir.path() / "report.txt";
		const RunResult run = Ctl(layout, {"report", Utf8String(file)}, {{kHomeVar, home}, {kUserVar, kUser}});
		ASSERT_EQ(run.exit_code, 0) << run.output;
		EXPECT_TRUE(Holds(run.output, "wrote " + Utf8String(file))) << run.output;
		const std::string report = ReadAll(file);
		const std::string section = Section(report, row.section);
		for (const std::string &shown : row.shows)
			EXPECT_NE(section.find(shown), std::string::npos) << shown << " in:\n" << section;
		if (!row.hides.empty()) {
			EXPECT_EQ(section.find(row.hides), std::string::npos) << section;
		}
		for (const std::string &spelling : {home, Replaced(home, "\\", "\\\\"), Replaced(home, "\\", "/"), kUser})
			EXPECT_FALSE(Holds(report, spelling)) << spelling << " in:\n" << report.substr(0, 4000);
		const auto raw = std::find_if(report.begin(), report.end(), [](char c) {
			return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') || c == 0x7f;
		});
		EXPECT_EQ(raw, report.end()) << "a raw control byte at " << (raw - report.begin());
	}
}

TEST(Report, AFileThatExistsIsNeverWrittenOver)
{
	Layout layout;
	const fs::path file = layout.dir.path() / "mine.txt";
	WriteFile(file, "mine");
	const RunResult run = Ctl(layout, {"report", Utf8String(file)});
	EXPECT_EQ(run.exit_code, 1) << run.output;
	EXPECT_NE(run.output.find("exists already"), std::string::npos) << run.output;
	EXPECT_EQ(ReadAll(file), "mine");
}

} // namespace
} // namespace zelvan::test
