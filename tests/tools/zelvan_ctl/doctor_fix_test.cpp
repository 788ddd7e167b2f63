// zelvan-ctl doctor --fix and unblock on SteamVR's settings: what they mend
// and print, and when they leave everything as it is.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"
#include "tests/tools/zelvan_ctl/doctor_fixture.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#if defined(_WIN32)
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace zelvan::test {
namespace {

TEST(Doctor, FixUnblocksAndEnablesAndKeepsTheRestOfTheFile)
{
	struct FixCase {
		const char *name;
		std::string before;
		nlohmann::json changes; // a merge patch: what --fix changes; null: nothing
		const char *said;
		LayoutNames names = {};
		std::vector<std::string> words = {"doctor", "--fix"};
		std::string registry = {}; // written over the path registry when not empty
	};
	const std::vector<FixCase> cases = {
		{"blocked", SettingsWith(kBlocked), {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", nullptr}}}},
		 "fix: removed \"blocked_by_safe_mode\" : true in driver_ZelvanProximity of"},
		{"turned off", SettingsWith(kDisabled), {{"driver_ZelvanProximity", {{"enable", true}}}}, "fix: set \"enable\" to true"},
		{"both", SettingsWith(kBoth), {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", nullptr}, {"enable", true}}}},
		 "true and set \"enable\" to true"},
		{"neither", SettingsWith(kNeither), nullptr, "fix: nothing to mend"},
		{"another driver blocked", SettingsWith(kOtherBlocked), nullptr, "fix: nothing to mend"},
		{"not JSON", "{ \"driver_ZelvanProximity\" : { \"blocked_by_safe_mode\" : true }", nullptr,
		 "fix FAILED: not touching"},
		{"both, in Jeux vid\xC3\xA9o", SettingsWith(kBoth),
		 {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", nullptr}, {"enable", true}}}},
		 "fix: removed \"blocked_by_safe_mode\" : true and set \"enable\" to true", kJoseJeuxVideo},
		{"unblock, in \xE6\xB8\xB8\xE6\x88\x8F written escaped", SettingsWith(kBlocked),
		 {{"driver_ZelvanProximity", {{"blocked_by_safe_mode", nullptr}}}},
		 "cleared SteamVR's safe-mode block on the driver: removed", kYouxiEscaped, {"unblock"}},
		{"a path registry that is not JSON", SettingsWith(kBlocked), nullptr,
		 "fix: nothing mended: SteamVR's path registry was not read", {}, {"doctor", "--fix"}, "{ \"runtime\" : ["},
	};
	for (const FixCase &c : cases) {
		Layout layout(c.names);
		WriteFile(SettingsPath(layout), c.before);
		if (!c.registry.empty())
			WriteFile(layout.registry, c.registry);
		const RunResult run = Ctl(layout, c.words);
		const bool doctor = c.words[0] == "doctor"; // unblock prints only its mend
		EXPECT_NE(run.output.find(c.said), std::string::npos) << c.name << ": " << run.output;
		EXPECT_EQ(run.output.find("steamvr_settings") != std::string::npos, doctor) << c.name << ": " << run.output;
		EXPECT_EQ(run.exit_code, doctor ? 1 : 0) << c.name << ": doctor finds no driver running";
		const std::string after = ReadAll(SettingsPath(layout));
		fs::path backup = SettingsPath(layout);
		backup += ".zelvan-backup";
		if (c.changes.is_null()) {
			EXPECT_EQ(after, c.before) << c.name;
			EXPECT_FALSE(fs::exists(backup)) << c.name;
			continue;
		}
		nlohmann::json expected = nlohmann::json::parse(c.before);
		expected.merge_patch(c.changes);
		EXPECT_EQ(nlohmann::json::parse(after), expected) << c.name << ":\n" << after;
		EXPECT_NE(after.find("\n   \"jsonid\" : \"vrsettings\",\n"), std::string::npos) << c.name << ":\n" << after;
		EXPECT_EQ(ReadAll(backup), c.before) << c.name;
		if (doctor) {
			EXPECT_NE(run.output.find("ok    steamvr_settings"), std::string::npos) << c.name << ": " << run.output;
		}
	}
}

// The mend edits the text: outside the driver's entries every byte stays,
// whatever SteamVR's reader accepts (comments, a BOM, numbers beyond a
// double, bytes that are not UTF-8), and what the tools do not read is left
// alone with a non-zero exit.
TEST(Doctor, MendChangesOnlyTheDriversEntries)
{
	const std::string real = ReadAll(FixturePath("steamvr_psmoveservice_issue166.vrsettings"));
	const std::string block = "   \"driver_ZelvanProximity\" : {\n      \"blocked_by_safe_mode\" : true\n   },\n";
	const std::string by_hand = "\xEF\xBB\xBF// written by hand\n{\n   /* order */ \"zeta\" : 1e-7,\n"
	                            "   \"big\" : 123456789012345678901234567890,\n   \"dup\" : 1,\n   \"dup\" : 2,\n"
	                            "   \"driver_ZelvanProximity\" : {\n      \"blocked_by_safe_mode\" : true, // SteamVR's\n"
	                            "      \"enable\" : false\n   },\n   \"alpha\" : \"a\"\n}\n";
	const std::string pad(2 << 20, 'a');
	const std::string deep = "{\"driver_ZelvanProximity\":{\"blocked_by_safe_mode\":true},\"x\":" +
	                         std::string(200000, '[') + std::string(200000, ']') + "}";
	const std::string deep2000 = "{\"driver_ZelvanProximity\":{\"blocked_by_safe_mode\":true},\"x\":" +
	                             std::string(2000, '[') + std::string(2000, ']') + "}";
	struct Row {
		const char *name;
		std::string before;
		std::vector<std::string> words;
		std::string after; // "": unchanged, without a backup
		int exit_code;
		const char *said;
		std::string saved = {}; // what another writer saves while it is mended; then the file holds it
	};
	const std::string unblocked = "cleared SteamVR's safe-mode block on the driver: removed";
	const std::string changed = "it changed while it was being mended; run the command again";
	const std::vector<Row> rows = {
		{"comments, a BOM, order, duplicates and numbers as written", by_hand, {"unblock"},
		 "\xEF\xBB\xBF// written by hand\n{\n   /* order */ \"zeta\" : 1e-7,\n"
		 "   \"big\" : 123456789012345678901234567890,\n   \"dup\" : 1,\n   \"dup\" : 2,\n"
		 "   \"driver_ZelvanProximity\" : {\n      \"enable\" : false\n   },\n   \"alpha\" : \"a\"\n}\n",
		 0, unblocked.c_str()},
		{"--fix sets enable where it is", by_hand, {"doctor", "--fix"},
		 "\xEF\xBB\xBF// written by hand\n{\n   /* order */ \"zeta\" : 1e-7,\n"
		 "   \"big\" : 123456789012345678901234567890,\n   \"dup\" : 1,\n   \"dup\" : 2,\n"
		 "   \"driver_ZelvanProximity\" : {\n      \"enable\" : true\n   },\n   \"alpha\" : \"a\"\n}\n",
		 1, "set \"enable\" to true"},
		{"the last entry takes the comma before it",
		 "{\n   \"driver_ZelvanProximity\" : {\n      \"presence_mode\" : \"on\",\n      \"blocked_by_safe_mode\" : true\n"
		 "   }\n}\n", {"unblock"}, "{\n   \"driver_ZelvanProximity\" : {\n      \"presence_mode\" : \"on\"\n   }\n}\n", 0,
		 unblocked.c_str()},
		{"on one line", "{\"driver_ZelvanProximity\":{\"blocked_by_safe_mode\":true,\"enable\":false},\"x\":1}",
		 {"doctor", "--fix"}, "{\"driver_ZelvanProximity\":{\"enable\":true},\"x\":1}", 1, "fix: removed"},
		{"on one line, the block last", "{\"driver_ZelvanProximity\":{\"enable\":true, \"blocked_by_safe_mode\":true},\"x\":1}",
		 {"unblock"}, "{\"driver_ZelvanProximity\":{\"enable\":true},\"x\":1}", 0, unblocked.c_str()},
		{"the last section and setting of a name count",
		 "{\n   \"driver_ZelvanProximity\" : { \"blocked_by_safe_mode\" : true },\n   \"driver_ZelvanProximity\" : {\n"
		 "      \"blocked_by_safe_mode\" : true,\n      \"blocked_by_safe_mode\" : false,\n      \"x\" : 1\n   }\n}\n",
		 {"unblock"}, "", 0, ""},
		{"a comment after the comma of the last entry that stays",
		 "{\n   \"driver_ZelvanProximity\" : {\n      \"report_rate_ms\" : 100, // 50 drains the battery\n"
		 "      \"blocked_by_safe_mode\" : true\n   }\n}\n",
		 {"unblock"}, "{\n   \"driver_ZelvanProximity\" : {\n      \"report_rate_ms\" : 100 // 50 drains the battery\n   }\n}\n",
		 0, unblocked.c_str()},
		{"CRLF line ends",
		 "{\r\n   \"driver_ZelvanProximity\" : {\r\n      \"blocked_by_safe_mode\" : true,\r\n      \"x\" : 1,\r\n"
		 "      \"blocked_by_safe_mode\" : true\r\n   }\r\n}\r\n",
		 {"unblock"}, "{\r\n   \"driver_ZelvanProximity\" : {\r\n      \"x\" : 1\r\n   }\r\n}\r\n", 0, unblocked.c_str()},
		{"SteamVR saves it while unblock mends it", "{\n" + block + "   \"y\" : 1\n}\n", {"unblock"}, "", 1,
		 changed.c_str(), "{\n" + block + "   \"y\" : 2\n}\n"},
		{"SteamVR saves it while --fix mends it", "{\n" + block + "   \"y\" : 1\n}\n", {"doctor", "--fix"}, "", 1,
		 changed.c_str(), "{ \"y\" : 3 }\n"},
		{"duplicates of the block go together",
		 "{\n   \"driver_ZelvanProximity\" : {\n      \"blocked_by_safe_mode\" : true,\n      \"x\" : 1,\n"
		 "      \"blocked_by_safe_mode\" : true\n   }\n}\n",
		 {"unblock"}, "{\n   \"driver_ZelvanProximity\" : {\n      \"x\" : 1\n   }\n}\n", 0, unblocked.c_str()},
		{"a real file, the section first", "{\n" + block + real.substr(2), {"unblock"},
		 "{\n   \"driver_ZelvanProximity\" : {},\n" + real.substr(2), 0, unblocked.c_str()},
		{"a real file, the section last",
		 real.substr(0, real.size() - 3) + ",\n" + block.substr(0, block.size() - 2) + "\n}\n", {"doctor", "--fix"},
		 real.substr(0, real.size() - 3) + ",\n   \"driver_ZelvanProximity\" : {}\n}\n", 1, "fix: removed"},
		{"a byte that is not UTF-8 elsewhere", "{\n   \"p\" : \"C:/Jeux vid\xE9o\",\n" + block + "   \"q\" : 1\n}\n",
		 {"unblock"}, "{\n   \"p\" : \"C:/Jeux vid\xE9o\",\n   \"driver_ZelvanProximity\" : {},\n   \"q\" : 1\n}\n", 0,
		 unblocked.c_str()},
		{"a number beyond a double", "{\n   \"x\" : 1e+9999,\n" + block + "   \"y\" : -1e+9999\n}\n", {"unblock"},
		 "{\n   \"x\" : 1e+9999,\n   \"driver_ZelvanProximity\" : {},\n   \"y\" : -1e+9999\n}\n", 0, unblocked.c_str()},
		{"a number beyond a double, doctor", "{\n   \"x\" : 1e+9999,\n" + block + "   \"y\" : 1\n}\n", {"doctor"}, "",
		 1, "SteamVR blocked the driver after a crash"},
		{"larger than 1 MB", "{\n   \"pad\" : \"" + pad + "\",\n" + block + "   \"y\" : 1\n}\n", {"unblock"},
		 "{\n   \"pad\" : \"" + pad + "\",\n   \"driver_ZelvanProximity\" : {},\n   \"y\" : 1\n}\n", 0, unblocked.c_str()},
		{"200,000 deep", deep, {"unblock"}, "", 1, "cannot tell whether SteamVR blocks the driver"},
		{"200,000 deep, doctor", deep, {"doctor"}, "", 1, "warn  steamvr_settings cannot tell"},
		{"2,000 deep, --fix", deep2000, {"doctor", "--fix"}, "", 1, "fix FAILED: not touching"},
		{"a trailing comma", "{\n" + block + "}\n", {"unblock"}, "", 1, "parse error at line 5"},
		{"not JSON, nothing blocked", "{ \"a\" : [ }", {"unblock"}, "", 1, "cannot tell whether SteamVR blocks the driver"},
	};
	for (const Row &row : rows) {
		Layout layout;
		WriteFile(SettingsPath(layout), row.before);
		const auto start = std::chrono::steady_clock::now();
		std::map<std::string, std::string> env;
		if (!row.saved.empty())
			env["ZELVAN_TEST_SAVE_DURING_MEND"] = row.saved;
		RunResult run = Ctl(layout, row.words, env);
		const auto took = std::chrono::steady_clock::now() - start;
		EXPECT_LT(took, std::chrono::seconds(20)) << row.name; // a hang guard, not a measure
		std::erase(run.output, '\r'); // Windows' text mode
		EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
		EXPECT_NE(run.output.find(row.said), std::string::npos) << row.name << ": " << run.output;
		EXPECT_EQ(run.output.find("move it away"), std::string::npos) << row.name << ": " << run.output;
		const std::string after = ReadAll(SettingsPath(layout));
		const fs::path backup = SettingsPath(layout).string() + ".zelvan-backup";
		EXPECT_EQ(after, !row.saved.empty() ? row.saved : row.after.empty() ? row.before : row.after) << row.name;
		EXPECT_EQ(fs::exists(backup), !row.after.empty()) << row.name;
		if (!row.after.empty()) {
			EXPECT_EQ(ReadAll(backup), row.before) << row.name;
		}
		for (const auto &entry : fs::directory_iterator(SettingsPath(layout).parent_path()))
			EXPECT_EQ(entry.path().string().find(".zelvan-tmp"), std::string::npos) << row.name << ": " << entry.path();
	}
}

#if !defined(_WIN32)
// An access list as the kernel stores it: the owner and uid 1234 may write,
// the group and the mask only read.
std::string AccessList()
{
	std::string acl;
	const auto put = [&acl](uint32_t value, size_t size) {
		for (size_t i = 0; i < size; ++i)
			acl += static_cast<char>((value >> (8 * i)) & 0xFF);
	};
	put(2, 4);
	for (const auto &[tag, perm, id] : {std::tuple{0x01u, 6u, ~0u}, {0x02u, 6u, 1234u}, {0x04u, 4u, ~0u},
	                                    {0x10u, 4u, ~0u}, {0x20u, 0u, ~0u}}) {
		put(tag, 2);
		put(perm, 2);
		put(id, 4);
	}
	return acl;
}

std::string Xattr(const fs::path &path, const char *name)
{
	std::string value(256, '\0');
	const ssize_t n = getxattr(path.c_str(), name, value.data(), value.size());
	return n < 0 ? std::string() : value.substr(0, static_cast<size_t>(n));
}

// The new file and its backup are the user's as the old one was: mode,
// owner and access list; another user's file is left alone.
TEST(Doctor, MendKeepsModeOwnerAndAccessList)
{
	struct Row {
		const char *name;
		mode_t mode;
		bool acl;
		uid_t owner; // 0: this user
		int exit_code;
		gid_t group = 0; // 0: the one it is made with
	};
	const Row rows[] = {
		{"0600 under umask 077", 0600, false, 0, 0},
		{"0664, group-writable", 0664, false, 0, 0},
		{"0640 with an access list", 0640, true, 0, 0},
		{"another user's file", 0644, false, 12345, 1},
		{"0660 of another group", 0660, false, 0, 0, 4321},
	};
	const mode_t old_umask = umask(077);
	for (const Row &row : rows) {
		if ((row.owner != 0 || row.group != 0) && geteuid() != 0)
			continue; // only root can hand a file to another user or any group
		Layout layout;
		const fs::path path = SettingsPath(layout), backup = path.string() + ".zelvan-backup";
		const std::string before = SettingsWith(kBlocked);
		WriteFile(path, before);
		ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
		if (row.acl) {
			const std::string acl = AccessList();
			ASSERT_EQ(setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
				<< std::strerror(errno);
		}
		if (row.owner != 0) {
			ASSERT_EQ(chown(path.c_str(), row.owner, row.owner), 0);
		}
		if (row.group != 0) {
			ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), row.group), 0);
		}
		struct stat old_info;
		ASSERT_EQ(stat(path.c_str(), &old_info), 0);
		const std::string old_acl = Xattr(path, "system.posix_acl_access");
		const RunResult run = Ctl(layout, {"unblock"});
		EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
		for (const fs::path &file : {path, backup}) {
			struct stat info;
			if (row.exit_code != 0) {
				EXPECT_EQ(ReadAll(path), before) << row.name;
				EXPECT_FALSE(fs::exists(backup)) << row.name;
				EXPECT_NE(run.output.find("belongs to uid 12345"), std::string::npos) << row.name << ": " << run.output;
				break;
			}
			ASSERT_EQ(stat(file.c_str(), &info), 0) << row.name << " " << file;
			EXPECT_EQ(info.st_mode & 07777, row.mode) << row.name << " " << file;
			EXPECT_EQ(info.st_uid, old_info.st_uid) << row.name << " " << file;
			EXPECT_EQ(info.st_gid, old_info.st_gid) << row.name << " " << file;
			EXPECT_EQ(Xattr(file, "system.posix_acl_access"), old_acl) << row.name << " " << file;
		}
	}
	umask(old_umask);
}
#else
std::wstring Dacl(const fs::path &path)
{
	PSECURITY_DESCRIPTOR sd = nullptr;
	PACL dacl = nullptr;
	if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
	                          &sd) != ERROR_SUCCESS)
		return L"?";
	LPWSTR text = nullptr;
	std::wstring out = L"?";
	if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
	                                                         nullptr)) {
		out = text;
		LocalFree(text);
	}
	LocalFree(sd);
	return out;
}

// The new file and the backup keep the old one's own access list.
TEST(Doctor, MendKeepsTheFilesAccessList)
{
	Layout layout;
	const fs::path path = SettingsPath(layout);
	WriteFile(path, SettingsWith(kBlocked));
	PSECURITY_DESCRIPTOR sd = nullptr;
	ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr));
	ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd));
	LocalFree(sd);
	const std::wstring before = Dacl(path);
	const RunResult run = Ctl(layout, {"unblock"});
	EXPECT_EQ(run.exit_code, 0) << run.output;
	EXPECT_EQ(ReadAll(path).find("blocked_by_safe_mode"), std::string::npos);
	EXPECT_EQ(Dacl(path), before);
	EXPECT_EQ(Dacl(path.wstring() + L".zelvan-backup"), before);
}
#endif

// A later mend keeps its own backup: the file as it was before the first
// one is never overwritten.
TEST(Doctor, MendNeverReplacesTheFirstBackup)
{
	Layout layout;
	const fs::path path = SettingsPath(layout);
	const std::string first = SettingsWith({{"first", 1}, {"driver_ZelvanProximity", {{"blocked_by_safe_mode", true}}}});
	const std::string second = SettingsWith({{"second", 2}, {"driver_ZelvanProximity", {{"blocked_by_safe_mode", true}}}});
	WriteFile(path, first);
	EXPECT_EQ(Ctl(layout, {"unblock"}).exit_code, 0);
	WriteFile(path, second);
	const RunResult run = Ctl(layout, {"doctor", "--fix"});
	EXPECT_NE(run.output.find("kept as " + Utf8String(path) + ".zelvan-backup.2"), std::string::npos) << run.output;
	EXPECT_EQ(ReadAll(path.string() + ".zelvan-backup"), first);
	EXPECT_EQ(ReadAll(path.string() + ".zelvan-backup.2"), second);
}

// A program named as SteamVR's server, running until the test ends.
struct FakeVrServer {
	ScratchDir dir;
	ChildProcess process;

	FakeVrServer()
	{
#if defined(_WIN32)
		const fs::path exe = dir.path() / "vrserver.exe";
		fs::copy_file(BinPath("zelvan-host-sim.exe"), exe);
		process.Start({exe.string(), "--seconds", "60", DriverLibraryPath()},
		              {{"ZELVAN_TEST_CHANNEL", dir.path().filename().string()}});
#else
		const fs::path exe = dir.path() / "vrserver";
		fs::copy_file("/bin/sleep", exe);
		process.Start({exe.string(), "60"});
#endif
		// Until the child has started the program it has the test's name:
		// a loaded machine would otherwise let the mend run.
		for (int i = 0; i < 3000 && !ctl::IsVrServerRunning(); ++i)
			std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
};

TEST(Doctor, FixChangesNothingWhileSteamVrRunsOrOnADryRun)
{
	const std::string blocked = SettingsWith(kBoth);
	{
		Layout layout;
		WriteFile(SettingsPath(layout), blocked);
		const RunResult run = Ctl(layout, {"doctor", "--fix", "--dry-run"});
		EXPECT_NE(run.output.find("fix (dry run): would remove \"blocked_by_safe_mode\" : true and set \"enable\" to true"),
		          std::string::npos)
			<< run.output;
		EXPECT_EQ(ReadAll(SettingsPath(layout)), blocked);
		EXPECT_FALSE(fs::exists(SettingsPath(layout).string() + ".zelvan-backup"));
	}
	Layout layout;
	WriteFile(SettingsPath(layout), blocked);
	FakeVrServer server;
	for (const std::vector<std::string> &words : {std::vector<std::string>{"doctor", "--fix"}, {"unblock"}}) {
		const RunResult run = Ctl(layout, words);
		EXPECT_EQ(run.exit_code, 1) << words.back() << ": " << run.output;
		EXPECT_NE(run.output.find("close SteamVR"), std::string::npos) << words.back() << ": " << run.output;
		// The install scripts show unblock's words as they are.
		EXPECT_EQ(run.output.rfind(words.back() == "unblock" ? "SteamVR is running" : "fix: SteamVR's server", 0), 0u)
			<< run.output;
		EXPECT_EQ(run.output.find("steamvr_settings"), std::string::npos) << words.back() << ": " << run.output;
		EXPECT_EQ(ReadAll(SettingsPath(layout)), blocked) << words.back();
	}
}

} // namespace
} // namespace zelvan::test
