// zelvan-ctl doctor --fix on the path registry, register, unregister and
// paths: what the install scripts and the mends change through vrpathreg,
// and what they print for the scripts.
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/sim_run.h"
#include "tests/tools/zelvan_ctl/doctor_fixture.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zelvan::test {
namespace {

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
		{"a gone folder whose name only begins as ours", {"~zelvanproximity-old", "a"}, {"zelvanproximity-old", "a"},
		 "it is not ours to remove"},
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
		// The running check fails too (no driver runs): the failed mend is said last all the same.
		const bool mend_failed = run.output.find("fix FAILED: ran ") != std::string::npos;
		EXPECT_EQ(mend_failed, !c.vrpathreg_writes) << c.name << ": " << run.output;
		EXPECT_EQ(run.output.find("fix FAILED: a mend above failed") != std::string::npos, mend_failed)
			<< c.name << ": " << run.output;
		EXPECT_EQ(run.exit_code, 1) << c.name << ": " << run.output;
	}
}

// A name with a line break or a NUL would read as two folders or a shorter
// one, wherever it is in the list, and an empty registry argument names no
// file: the scripts get nothing at all.
TEST(Doctor, PathsPrintsNothingOfAListItCannotTrust)
{
	const std::string line_break("C:\\a\nb"), nul("C:\\a\0b", 6);
	const struct {
		std::vector<std::string> registered;
		std::vector<std::string> words;
	} rows[] = {
		{{line_break, "C:\\ok"}, {"paths", "external_drivers"}},
		{{nul, "C:\\ok"}, {"paths", "external_drivers"}},
		{{"C:\\ok", line_break}, {"paths", "external_drivers"}},
		{{"C:\\ok", nul}, {"paths", "external_drivers"}},
		{{"C:\\ok"}, {"paths", "external_drivers", ""}},
	};
	for (const auto &row : rows) {
		Layout layout;
		layout.Patch({{"external_drivers", row.registered}});
		const RunResult run = Ctl(layout, row.words);
		EXPECT_EQ(run.exit_code, 1) << row.words.size() << " words: " << run.output;
		EXPECT_EQ(run.output.find("C:\\ok"), std::string::npos) << row.words.size() << " words: " << run.output;
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
	// working folder, N: the folder and more after a NUL (which the system
	// would read as the folder).
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
		{"a name with a NUL", "register", {"N"}, true, 0, {"F"}},
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
			if (entry[0] == 'N')
				return Utf8String(folder) + std::string("\0x", 2);
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
