// zelvan-ctl doctor --fix, unblock and paths: what they mend and print, and when they leave everything as it is.
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
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"
#include "tests/tools/zelvan_ctl/doctor_fixture.h"

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

// `wrapper`: a program that runs zelvan-ctl, and its words before it.
RunResult Ctl(const Layout &l, const std::vector<std::string> &words, const std::map<std::string, std::string> &extra = {},
              std::vector<std::string> argv = {})
{
	std::map<std::string, std::string> all = l.env;
	for (const auto &[k, v] : extra)
		all[k] = v;
	argv.insert(argv.end(), {BinPath(std::string("zelvan-ctl") + kExeSuffix), "--timeout", "1"});
	argv.insert(argv.end(), words.begin(), words.end());
	return RunProgram(argv, all, std::chrono::seconds(30));
}

std::string ReadAll(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

// The vrpathreg stand-in where the layout's runtime keeps vrpathreg.
fs::path InstallVrpathreg(const Layout &layout)
{
#if defined(_WIN32)
	const fs::path tool = Utf8Path(layout.files.runtime_dir) / "bin" / "win64" / "vrpathreg.exe";
#else
	const fs::path tool = Utf8Path(layout.files.runtime_dir) / "bin" / "vrpathreg.sh";
#endif
	fs::create_directories(tool.parent_path());
	fs::copy_file(ZELVAN_TEST_VRPATHREG, tool);
	return tool;
}

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
	};
	const std::string unblocked = "cleared SteamVR's safe-mode block on the driver: removed";
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
		{"the last section and setting of a name count",
		 "{\n   \"driver_ZelvanProximity\" : { \"blocked_by_safe_mode\" : true },\n   \"driver_ZelvanProximity\" : {\n"
		 "      \"blocked_by_safe_mode\" : true,\n      \"blocked_by_safe_mode\" : false,\n      \"x\" : 1\n   }\n}\n",
		 {"unblock"}, "", 0, ""},
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
		RunResult run = Ctl(layout, row.words);
		const auto took = std::chrono::steady_clock::now() - start;
		EXPECT_LT(took, std::chrono::seconds(20)) << row.name; // a hang guard, not a measure
		std::erase(run.output, '\r'); // Windows' text mode
		EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
		EXPECT_NE(run.output.find(row.said), std::string::npos) << row.name << ": " << run.output;
		EXPECT_EQ(run.output.find("move it away"), std::string::npos) << row.name << ": " << run.output;
		const std::string after = ReadAll(SettingsPath(layout));
		const fs::path backup = SettingsPath(layout).string() + ".zelvan-backup";
		EXPECT_EQ(after, row.after.empty() ? row.before : row.after) << row.name;
		EXPECT_EQ(fs::exists(backup), !row.after.empty()) << row.name;
		if (!row.after.empty()) {
			EXPECT_EQ(ReadAll(backup), row.before) << row.name;
		}
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
	};
	const Row rows[] = {
		{"0600 under umask 077", 0600, false, 0, 0},
		{"0664, group-writable", 0664, false, 0, 0},
		{"0640 with an access list", 0640, true, 0, 0},
		{"another user's file", 0644, false, 12345, 1},
	};
	const mode_t old_umask = umask(077);
	for (const Row &row : rows) {
		if (row.owner != 0 && geteuid() != 0)
			continue; // only root can hand a file to another user
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
		EXPECT_EQ(run.output.find("steamvr_settings"), std::string::npos) << words.back() << ": " << run.output;
		EXPECT_EQ(ReadAll(SettingsPath(layout)), blocked) << words.back();
	}
}

// What the setup program leaves: an uninstall.exe in the folder, and the
// folder in its Add/Remove Programs entry (Windows: a key of the test's own
// under HKCU, written with the real calls; Linux, which has no setup
// program: the folder in the environment).
struct FakeSetupInstall {
	std::map<std::string, std::string> env;
#if defined(_WIN32)
	std::wstring key;
#endif

	FakeSetupInstall(const Layout &layout, const fs::path &folder)
	{
		if (fs::is_directory(folder))
			WriteFile(folder / "uninstall.exe", "");
#if defined(_WIN32)
		key = L"Software\\ZelvanTest\\" + layout.dir.path().filename().wstring();
		const std::wstring value = folder.wstring();
		HKEY handle = nullptr;
		if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
		    ERROR_SUCCESS) {
			RegSetValueExW(handle, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
			               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
			RegCloseKey(handle);
		}
		env["ZELVAN_TEST_SETUP_KEY"] = Utf8String(fs::path(key));
#else
		(void)layout;
		env["ZELVAN_TEST_SETUP_FOLDER"] = Utf8String(folder);
#endif
	}
	~FakeSetupInstall()
	{
#if defined(_WIN32)
		RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
#endif
	}
};

TEST(Doctor, FixUnregistersThroughVrpathreg)
{
	struct RegCase {
		const char *name;
		// Folders under the scratch, each after its marks: "+" one an install
		// script made, "@" a copy of it elsewhere (its marker names the first
		// "+"), "$" the setup program's, "=" another vendor's driver, "~" one
		// that is not there, "%" a file, ">" a link to one that is not there, "*"
		// registered by its relative name, "-" inside a folder this user
		// cannot look into (on Linux: as root, through setpriv without the
		// capabilities that look anyway; skipped on Windows, where any folder
		// can be looked through).
		std::vector<std::string> registered;
		std::vector<std::string> kept;
		const char *said = "";
		bool vrpathreg_writes = true; // to the registry zelvan-ctl reads
	};
	const std::vector<RegCase> cases = {
		{"a folder that is gone, nothing shows whose", {"~gone", "a"}, {"gone", "a"}, "it is not ours to remove"},
		{"our folder that is gone", {"~zelvanproximity", "a"}, {"a"}, "(it does not exist)"},
		{"the setup program's folder, gone", {"$~Pilotes VR"}, {}, "(it does not exist)"},
		{"a folder that cannot be checked", {"~ZelvanProximity", "-a"}, {"a"}},
		{"a disk that is not mounted", {"~media/usb/zelvanproximity", "~media/usb/VR/driver_othervendor"},
		 {"zelvanproximity", "driver_othervendor"}, "(the folder above it is not there"},
		{"a relative name", {"*~zelvanproximity"}, {"zelvanproximity"}, "(not a full path)"},
		{"a file", {"%zelvanproximity"}, {"zelvanproximity"}, "registered: it is not a folder"},
#if !defined(_WIN32)
		{"gone, inside a folder this user cannot look into", {"-~zelvanproximity"}, {"zelvanproximity"},
		 "(this user cannot look into the folder above it)"},
		{"a link to a disk that is not mounted", {">zelvanproximity"}, {"zelvanproximity"}, "(a link to what is"},
#endif
		{"copies beside the installed one", {"a", "+zelvanproximity", "b"}, {"zelvanproximity"}},
		{"copies, none installed", {"a", "b"}, {"a", "b"}, "cannot choose which copy of the driver to keep: no installer"},
		{"two installs", {"+a", "+b"}, {"a", "b"}, "cannot choose which copy of the driver to keep: each of"},
		{"a copy of the installed folder", {"@backup", "+zelvanproximity"}, {"zelvanproximity"}},
		{"beside the setup program's", {"a", "$Pilotes VR"}, {"Pilotes VR"}, "the one the setup program installed"},
		// Under a profile named outside the code page, a folder that is there
		// stays, even where its name cannot be converted for a narrow call.
		{"folders named in other scripts", {"~zelvanproximity", "Jos\xC3\xA9", "\xE7\x8E\x8B\xE4\xBC\x9F \xF0\x9F\x8E\xAE"},
		 {"Jos\xC3\xA9", "\xE7\x8E\x8B\xE4\xBC\x9F \xF0\x9F\x8E\xAE"}},
		{"the installed copy named in another script", {"a", "+zelvanproximity \xE7\x8E\x8B"}, {"zelvanproximity \xE7\x8E\x8B"}},
		{"beside the setup program's, named in another script", {"a", "$\xE7\x8E\x8B\xE4\xBC\x9F"},
		 {"\xE7\x8E\x8B\xE4\xBC\x9F"}},
		{"another driver beside the installed one", {"=other", "+zelvanproximity", "a"}, {"other", "zelvanproximity"}},
		{"vrpathreg leaves it registered", {"~zelvanproximity"}, {"zelvanproximity"}, "still names it", false},
	};
	std::vector<std::string> wrapper;
	bool can_lock = true;
#if !defined(_WIN32)
	if (geteuid() == 0) {
		wrapper = {"/usr/bin/setpriv", "--bounding-set=-dac_override,-dac_read_search"};
		can_lock = fs::exists(wrapper[0]);
	}
#endif
	for (const RegCase &c : cases) {
		Layout layout;
		InstallVrpathreg(layout);
		nlohmann::json list = nlohmann::json::array();
		const fs::path locked = layout.dir.path() / "locked";
		std::string install;
		for (const std::string &entry : c.registered)
			if (install.empty() && entry[0] == '+')
				install = Utf8String(layout.dir.path() / Utf8Path(entry.substr(1)));
		std::unique_ptr<FakeSetupInstall> setup;
		for (const std::string &entry : c.registered) {
			const size_t at = entry.find_first_not_of("+@$=~%>*-");
			const std::string marks = entry.substr(0, at);
			const auto marked = [&](char mark) { return marks.find(mark) != std::string::npos; };
			const std::string name = (marked('-') ? "locked/" : "") + entry.substr(at);
			const fs::path folder = layout.dir.path() / Utf8Path(name);
			if (marked('-'))
				fs::create_directories(locked);
			if (marked('='))
				WriteFile(folder / "driver.vrdrivermanifest", R"({ "name" : "othervendor", "directory" : "" })");
			else if (marked('%'))
				WriteFile(folder, "");
			else if (marked('>'))
				fs::create_directory_symlink("/media/zelvan-test-unmounted/zelvanproximity", folder);
			else if (!marked('~'))
				layout.DriverFolder(name);
			if (marked('+') || marked('@'))
				WriteFile(folder / ".zelvan-install", (marked('+') ? Utf8String(folder) : install) + "\n");
			if (marked('$'))
				setup = std::make_unique<FakeSetupInstall>(layout, folder);
			list.push_back(marked('*') ? name : Utf8String(folder));
		}
		if (fs::exists(locked)) {
			if (!can_lock) {
				std::printf("skipping %s: root looks into any folder, and there is no setpriv\n", c.name);
				continue;
			}
			fs::permissions(locked, fs::perms::none);
		}
		layout.Patch({{"external_drivers", list}});
		const fs::path log = layout.dir.path() / "vrpathreg.log";
		const fs::path elsewhere = layout.dir.path() / "elsewhere.vrpath";
		fs::copy_file(layout.registry, elsewhere);
		std::map<std::string, std::string> env = {
			{"ZELVAN_VRPATHREG_REGISTRY", Utf8String(c.vrpathreg_writes ? layout.registry : elsewhere)},
			{"ZELVAN_VRPATHREG_LOG", Utf8String(log)}};
		if (setup)
			env.insert(setup->env.begin(), setup->env.end());
		const RunResult run =
			Ctl(layout, {"doctor", "--fix"}, env, fs::exists(locked) ? wrapper : std::vector<std::string>{});
		if (fs::exists(locked))
			fs::permissions(locked, fs::perms::owner_all);
		std::ifstream in(layout.registry);
		const nlohmann::json after = nlohmann::json::parse(in);
		std::vector<std::string> kept;
		for (const auto &dir : after["external_drivers"])
			kept.push_back(Utf8String(Utf8Path(dir.get<std::string>()).filename()));
		EXPECT_EQ(kept, c.kept) << c.name << ": " << run.output;
		size_t ran = 0;
		for (size_t at = run.output.find("fix: ran "); at != std::string::npos; at = run.output.find("fix: ran ", at + 1))
			++ran;
		EXPECT_EQ(ran, c.registered.size() - c.kept.size()) << c.name << ": " << run.output;
		EXPECT_NE(run.output.find(c.said), std::string::npos) << c.name << ": " << run.output;
		EXPECT_EQ(run.output.find("nothing to mend"), std::string::npos) << c.name << ": " << run.output;
	}
}

// A name with a line break or a NUL would read as two folders or a shorter
// one: the scripts get nothing at all.
TEST(Doctor, PathsPrintsNothingForANameWithALineBreakOrNul)
{
	for (const std::string &bad : {std::string("C:\\a\nb"), std::string("C:\\a\0b", 6)}) {
		Layout layout;
		layout.Patch({{"external_drivers", {bad, "C:\\ok"}}});
		const RunResult run = Ctl(layout, {"paths", "external_drivers"});
		EXPECT_EQ(run.exit_code, 1) << run.output;
		EXPECT_EQ(run.output.find("C:\\ok"), std::string::npos) << run.output;
	}
}

// What the install scripts run: vrpathreg once, only when it changes
// something, with the folder's name as given.
TEST(Doctor, RegisterCallsVrpathregOnlyWhenItChangesSomething)
{
	struct Step {
		const char *command;
		const char *environment; // set for this step only
		int exit_code;
		const char *call;        // what vrpathreg was asked, or ""
		const char *said;
	};
	const Step steps[] = {
		{"register", "", 0, "adddriver", "ran \""},
		{"register", "", 0, "", "is already registered with SteamVR"},
		{"unregister", "", 0, "removedriver", "ran \""},
		{"unregister", "", 0, "", "is not registered with SteamVR"},
		{"register", "ZELVAN_VRPATHREG_FAIL", 1, "adddriver", "failed: vrpathreg stand-in: failing as asked"},
		{"register", "no vrpathreg", 0, "", "SteamVR not found"},
	};
	for (const LayoutNames &names : {LayoutNames{}, kJoseJeuxVideo, kYouxiEscaped}) {
		Layout layout(names);
		const fs::path tool = InstallVrpathreg(layout);
		const std::string folder = Utf8String(layout.DriverFolder("Jos\xC3\xA9 (1)"));
		const fs::path log = layout.dir.path() / "vrpathreg.log";
		for (const Step &step : steps) {
			const std::string what = names.user + " " + names.steam + " " + step.command + " " + step.environment;
			std::map<std::string, std::string> env = {{"ZELVAN_VRPATHREG_REGISTRY", Utf8String(layout.registry)},
			                                          {"ZELVAN_VRPATHREG_LOG", Utf8String(log)}};
			if (std::string(step.environment) == "no vrpathreg")
				fs::remove(tool);
			else if (*step.environment != '\0')
				env[step.environment] = "1";
			fs::remove(log);
			const RunResult run = Ctl(layout, {step.command, folder}, env);
			EXPECT_EQ(run.exit_code, step.exit_code) << what << ": " << run.output;
			EXPECT_NE(run.output.find(step.said), std::string::npos) << what << ": " << run.output;
			const std::string call = *step.call != '\0' ? std::string(step.call) + " " + folder + "\n" : "";
			std::string logged = ReadAll(log);
			std::erase(logged, '\r'); // Windows' text mode
			EXPECT_EQ(logged, call) << what;
		}
	}
}

// vrpathreg removes only the spelling it is given: an unregister that left
// another spelling of the folder would report success while SteamVR still
// loads it, and a name relative to our working folder is not the folder.
TEST(Doctor, UnregisterRemovesTheFolderAsRegistered)
{
	// F: the folder, F/: with a trailing separator, S: another spelling of it
	// (Windows: in capitals; elsewhere: a link), R: its name relative to the
	// working folder.
	struct Row {
		const char *name;
		const char *command;
		std::vector<std::string> registered;
		bool vrpathreg_writes; // to the registry zelvan-ctl reads
		int exit_code;
		std::vector<std::string> calls; // the names vrpathreg was given, in order
	};
	const Row rows[] = {
		{"trailing separator", "unregister", {"F/"}, true, 0, {"F/"}},
		{"two spellings", "unregister", {"F", "F/"}, true, 0, {"F", "F/"}},
		{"another spelling", "unregister", {"S"}, true, 0, {"S"}},
		{"vrpathreg leaves it", "unregister", {"F/"}, false, 1, {"F/"}},
		{"relative name", "register", {"R"}, true, 0, {"F"}},
	};
	for (const Row &row : rows) {
		Layout layout;
		InstallVrpathreg(layout);
		const fs::path folder = layout.DriverFolder("zelvanproximity");
#if defined(_WIN32)
		std::string capitals = Utf8String(folder);
		for (char &c : capitals)
			c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
		const fs::path other = Utf8Path(capitals);
#else
		const fs::path other = layout.dir.path() / "link";
		fs::create_directory_symlink(folder, other);
#endif
		// zelvan-ctl runs in the test's working folder, which is the layout's
		// for the run.
		const fs::path here = fs::current_path();
		fs::current_path(layout.dir.path());
		const std::map<char, fs::path> names = {{'F', folder}, {'S', other}, {'R', "zelvanproximity"}};
		auto spelled = [&](const std::string &entry) {
			return Utf8String(names.at(entry[0])) + (entry.size() > 1 ? kSeparator : "");
		};
		nlohmann::json entries = nlohmann::json::array();
		for (const std::string &entry : row.registered)
			entries.push_back(spelled(entry));
		layout.Patch({{"external_drivers", entries}});
		const fs::path log = layout.dir.path() / "vrpathreg.log";
		const fs::path elsewhere = layout.dir.path() / "elsewhere.vrpath";
		fs::copy_file(layout.registry, elsewhere);
		const RunResult run =
			Ctl(layout, {row.command, Utf8String(folder)},
			    {{"ZELVAN_VRPATHREG_REGISTRY", Utf8String(row.vrpathreg_writes ? layout.registry : elsewhere)},
			     {"ZELVAN_VRPATHREG_LOG", Utf8String(log)}});
		fs::current_path(here);
		EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
		std::string calls;
		for (const std::string &call : row.calls)
			calls += std::string(row.command == std::string("register") ? "adddriver " : "removedriver ") +
			         spelled(call) + "\n";
		std::string logged = ReadAll(log);
		std::erase(logged, '\r'); // Windows' text mode
		EXPECT_EQ(logged, calls) << row.name;
		if (row.exit_code != 0) {
			EXPECT_NE(run.output.find("is still registered with SteamVR as"), std::string::npos)
				<< row.name << ": " << run.output;
		}
	}
}

// The registry as SteamVR reads it: comments, a BOM, numbers beyond a
// double, and folders named in the system's bytes, printed as those bytes.
TEST(Doctor, PathsReadsTheRegistryAsSteamVrDoes)
{
	struct Row {
		const char *name;
		std::string registry;
		int exit_code;
		std::string printed;
	};
	const Row rows[] = {
		{"another vendor's folder in Latin-1",
		 "{ \"external_drivers\" : [ \"/opt/vid\xE9o/driver\", \"/opt/b\" ], \"version\" : 1 }", 0,
		 "/opt/vid\xE9o/driver\n/opt/b\n"},
		{"comments", "// SteamVR\n{ /* ours */ \"external_drivers\" : [ \"/opt/b\" ] }", 0, "/opt/b\n"},
		{"a BOM and a number beyond a double", "\xEF\xBB\xBF{ \"external_drivers\" : [ \"/opt/b\" ], \"version\" : 1e+9999 }",
		 0, "/opt/b\n"},
		{"the last of a name counts", "{ \"external_drivers\" : [ \"/a\" ], \"external_drivers\" : [ \"/b\" ] }", 0, "/b\n"},
		{"nested 200,000 deep", "{ \"external_drivers\" : [ \"/opt/b\" ], \"x\" : " + std::string(200000, '[') +
		                            std::string(200000, ']') + " }", 1, ""},
		{"not JSON", "{ \"external_drivers\" : [ \"/opt/b\" ], }", 1, ""},
	};
	for (const Row &row : rows) {
		Layout layout;
		const fs::path registry = layout.dir.path() / "r.vrpath";
		WriteFile(registry, row.registry);
		RunResult run = Ctl(layout, {"paths", "external_drivers", Utf8String(registry)});
		std::erase(run.output, '\r'); // Windows' text mode
		EXPECT_EQ(run.exit_code, row.exit_code) << row.name << ": " << run.output;
		if (row.exit_code == 0) {
			EXPECT_EQ(run.output, row.printed) << row.name;
		} else {
			EXPECT_NE(run.output.find("is not a JSON object"), std::string::npos) << row.name << ": " << run.output;
		}
	}
}

// What the install scripts read: the registry's folders, byte for byte, with
// the registry found through the environment or named on the command line.
TEST(Doctor, PathsPrintsFoldersNamedInAnyScript)
{
	for (const LayoutNames &names : {LayoutNames{}, kJoseJeuxVideo, kYouxiEscaped}) {
		Layout layout(names);
		const std::string driver = Utf8String(layout.Registered(false, false, "Jos\xC3\xA9"));
		const std::string registry = Utf8String(layout.registry);
		const std::vector<std::vector<std::string>> asked = {
			{"paths", "config"}, {"paths", "runtime"}, {"paths", "external_drivers"}, {"paths", "config", registry}};
		const std::string printed[] = {layout.files.config_dir, layout.files.runtime_dir, driver, layout.files.config_dir};
		for (size_t i = 0; i < asked.size(); ++i) {
			RunResult run = Ctl(layout, asked[i]);
			std::erase(run.output, '\r'); // Windows' text mode
			EXPECT_EQ(run.exit_code, 0) << names.user << " " << names.steam << " " << asked[i][1];
			EXPECT_EQ(run.output, printed[i] + "\n") << names.user << " " << names.steam << " " << asked[i][1];
		}
	}
}

} // namespace
} // namespace zelvan::test
