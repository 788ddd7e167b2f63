// The persistence's decisions that need no console tool (the no-change
// rule, the serial checks, the tool look-up's failures and the default_mm
// edit), and what reaches the headset when the tool misbehaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "core/driver_log.h"
#include "core/text_escape.h"
#include "driver/device_provider.h"
#include "ipd/console_runner.h"
#include "ipd/ipd_persistence.h"
#include "ipd/kept_config.h"
#include "ipd/runtime_paths.h"
#include "ipd/serial_check.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_runtime.h"
#include "tests/support/runtime_files.h"
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

// The download's end decides the upload: only the deadline stops it, not a
// kill for being slow to leave after the work was done.
TEST(TimeLeftToUpload, OnlyTheDeadlineStopsTheUpload)
{
	const auto deadline = ConsoleClock::now() + std::chrono::seconds(5);
	const struct {
		const char *name;
		ConsoleRun download;
		ConsoleClock::time_point now;
		bool upload;
	} cases[] = {
		{"left at once", {true, false, false}, deadline - std::chrono::seconds(1), true},
		{"killed for not leaving", {true, true, false}, deadline - std::chrono::seconds(1), true},
		{"killed at the deadline", {true, true, true}, deadline - std::chrono::milliseconds(1), false},
		{"the deadline came since", {true, false, false}, deadline, false},
	};
	for (const auto &c : cases)
		EXPECT_EQ(TimeLeftToUpload(c.download, c.now, deadline), c.upload) << c.name;
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
	// The same serials as a part of a kept copy's file name, and back.
	const struct {
		std::string serial, part, back;
	} parts[] = {
		{"LHR-1A2B3C4D", "LHR-1A2B3C4D", "LHR-1A2B3C4D"},
		{"abc_def.1", "abc_def_1", "abc_def_1"},
		{"..", "__", "__"},
		{"a/b\\c", "a_b_c", "a_b_c"},
		{"con", "_con", "con"},
		{"COM1", "_COM1", "COM1"},
		{std::string(70, 'a'), std::string(64, 'a'), std::string(64, 'a')},
	};
	for (const auto &p : parts) {
		EXPECT_EQ(KeptNamePart(p.serial), p.part) << p.serial;
		EXPECT_EQ(SerialOfKeptName(OriginalName(p.serial, "2026-01-01")), p.back) << p.serial;
	}
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
		p.ipd.initial_ipd_m = initial;
		p.ipd.current_ipd_m = current;
		p.ipd.config_serial = serial;
		PersistIpdToHeadset(p.ipd);
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

namespace fs = std::filesystem;

std::string ReadAll(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The stand-in console tool installed where the runtime's registry leads,
// serving one headset whose stored default_mm is 63.5.
class PersistenceWithTool : public ::testing::Test {
protected:
	void SetUp() override
	{
		AttachDriverLog(&log);
		for (const auto &[name, value] : files.env)
			test::SetEnvironment(name, value);
		const std::string tool_name = std::string("lighthouse_console") + test::kExeSuffix;
		const fs::path bin = fs::path(files.runtime_dir) / "tools" / "lighthouse" / "bin" /
		                     (test::kExeSuffix[0] != '\0' ? "win64" : "linux64");
		fs::create_directories(bin);
		fs::copy_file(test::BinPath(tool_name), bin / tool_name);
		test::RunProgram({test::BinPath(tool_name), "--init-store", store.string(), test::kSerial, "63.5"});
		original = Stored();
		test::SetEnvironment("ZELVAN_LH_STORE", store.string());
	}
	void TearDown() override
	{
		test::SetEnvironment("ZELVAN_LH_FAULT", "");
		DetachDriverLog();
	}

	// The log of a run from 63.5 to 64.0 mm, and how long it took.
	std::vector<std::string> Persist(const std::string &fault, double &seconds)
	{
		log.Clear();
		test::SetEnvironment("ZELVAN_LH_FAULT", fault);
		DeviceProvider p;
		p.ipd.initial_ipd_m = 0.0635f;
		p.ipd.current_ipd_m = 0.064f;
		p.ipd.config_serial = test::kSerial;
		const auto start = std::chrono::steady_clock::now();
		PersistIpdToHeadset(p.ipd);
		seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		return log.Lines();
	}
	std::string Stored() const { return ReadAll(store / (std::string(test::kSerial) + ".json")); }
	std::string Written() const
	{
		std::string text = original;
		text.replace(text.find("\"default_mm\" : 63.5"), 19, "\"default_mm\" : 64.0");
		return text;
	}
	static bool Has(const std::vector<std::string> &lines, const std::string &line)
	{
		return std::find(lines.begin(), lines.end(), line) != lines.end();
	}

	test::FakeDriverLog log;
	test::ScratchDir scratch;
	test::RuntimeFiles files = test::LayOutRuntime(scratch);
	fs::path store = scratch.path() / "store";
	std::string original;
};

TEST_F(PersistenceWithTool, OnlyAWholeDownloadIsUploaded)
{
	const size_t size = original.size();
	const size_t value = original.find("63.5");
	struct Case {
		std::string fault;
		const char *line;
		std::string stored; // the headset's configuration when not the usual one
	};
	// A whole, valid configuration above the size the driver reads.
	std::string oversized = original;
	oversized.insert(1, kMaxRuntimeFileBytes, ' ');
	const std::vector<Case> cases = {
		{"cut:0", "IPD Persist: Downloaded config is incomplete, not uploading\n", ""},
		{"cut:" + std::to_string(value + 2), "IPD Persist: Downloaded config is incomplete, not uploading\n", ""},
		{"cut:1500", "IPD Persist: Downloaded config is incomplete, not uploading\n", ""},
		{"cut:" + std::to_string(size - 2), "IPD Persist: Downloaded config is incomplete, not uploading\n", ""},
		{"", "IPD Persist: Failed to open downloaded config\n", oversized},
		{"", "IPD Persist: Successfully wrote 64.0mm to headset config\n", ""},
	};
	ASSERT_GT(size, 1500u);
	for (const Case &c : cases) {
		SCOPED_TRACE(c.fault + (c.stored.empty() ? "" : " oversized"));
		if (!c.stored.empty())
			std::ofstream(store / (std::string(test::kSerial) + ".json"), std::ios::binary) << c.stored;
		const std::string before = Stored();
		double seconds = 0;
		const auto lines = Persist(c.fault, seconds);
		EXPECT_TRUE(Has(lines, c.line)) << ::testing::PrintToString(lines);
		const bool whole = c.fault.empty() && c.stored.empty();
		EXPECT_EQ(Has(lines, "IPD Persist: Uploading modified config (64.0mm)\n"), whole);
		// Not printed: one row's configuration is a megabyte.
		EXPECT_TRUE(Stored() == (whole ? Written() : before)) << "the stored configuration is not the one expected";
		if (!c.stored.empty())
			std::ofstream(store / (std::string(test::kSerial) + ".json"), std::ios::binary) << original;
		EXPECT_EQ(lines.back().rfind("IPD Persist: Finished in ", 0), 0u) << lines.back();
	}
}

// The headset's configuration as it came is kept once, before the first
// upload, and the last download before each; without a copy nothing goes up.
TEST_F(PersistenceWithTool, NothingIsUploadedWithoutAKeptCopy)
{
#if defined(_WIN32)
	const fs::path kept = test::Utf8Path(files.user_dir) / "ZelvanProximity" / "kept-config";
#else
	const fs::path kept = test::Utf8Path(files.env["XDG_DATA_HOME"]) / "zelvan-proximity" / "kept-config";
#endif
	const fs::path last = kept / (std::string(test::kSerial) + ".last-download.json");
	const auto originals = [&] {
		std::vector<std::string> found;
		for (const auto &entry : fs::directory_iterator(kept))
			if (entry.path().filename().string().rfind(std::string(test::kSerial) + ".original.", 0) == 0)
				found.push_back(ReadAll(entry.path()));
		return found;
	};
	struct Case {
		const char *name;
		std::function<void()> before;
		bool uploaded;
		std::string last; // the last download kept, when uploaded
	};
	const std::vector<Case> cases = {
		{"the first upload keeps the original", [&] {
#if !defined(_WIN32)
			 // One left open to others is narrowed first.
			 fs::create_directories(kept);
			 fs::permissions(kept, fs::perms::all);
#endif
		 }, true, original},
		{"the next keeps its download beside it", [] {}, true, Written()},
#if !defined(_WIN32)
		{"the folder swapped for a link", [&] {
			 fs::rename(kept, kept.string() + ".moved");
			 fs::create_directory_symlink(kept.string() + ".moved", kept);
		 }, false, ""},
		{"the folder owned by another user", [&] {
			 fs::remove(kept);
			 fs::rename(kept.string() + ".moved", kept);
			 ASSERT_EQ(chown(kept.c_str(), 12345, 12345), 0);
		 }, false, ""},
		{"the last download's name taken by a folder", [&] {
			 ASSERT_EQ(chown(kept.c_str(), geteuid(), getegid()), 0);
			 fs::remove(last);
			 fs::create_directories(last / "x");
		 }, false, ""},
#endif
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.name);
		c.before();
		const std::string stored = Stored();
		double seconds = 0;
		const auto lines = Persist("", seconds);
		EXPECT_EQ(Has(lines, "IPD Persist: Successfully wrote 64.0mm to headset config\n"), c.uploaded)
			<< ::testing::PrintToString(lines);
		if (!c.uploaded) {
			EXPECT_EQ(Stored(), stored);
			EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) {
				          return l.rfind("IPD Persist: Cannot keep a copy of the headset's configuration (", 0) == 0;
			          }), 1) << ::testing::PrintToString(lines);
			continue;
		}
		EXPECT_EQ(originals(), std::vector<std::string>{original});
		EXPECT_EQ(ReadAll(last), c.last);
#if !defined(_WIN32)
		// Only the user may open the folder or read the copies.
		EXPECT_EQ(fs::status(kept).permissions(), fs::perms::owner_all);
		EXPECT_EQ(fs::status(last).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
		EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) {
			          return l.rfind("IPD Persist: Kept the headset's configuration as ", 0) == 0;
		          }), c.last == original ? 1 : 0) << ::testing::PrintToString(lines);
		EXPECT_EQ(Has(lines, "IPD Persist: Kept this download as " + test::Utf8String(last) + "\n"), true)
			<< ::testing::PrintToString(lines);
	}
}

// Killed only for being slow to exit, after the whole file was written: the
// IPD still reaches the headset, within the deadline.
TEST_F(PersistenceWithTool, AToolSlowToExitStillGetsTheIpd)
{
	double seconds = 0;
	const auto lines = Persist("ignore_exit", seconds);
	EXPECT_TRUE(Has(lines, "IPD Persist: Successfully wrote 64.0mm to headset config\n")) << ::testing::PrintToString(lines);
	EXPECT_EQ(Stored(), Written());
	EXPECT_LT(seconds, 20.0);
}

// Each answer just inside the runner's 10 s bounds: the two runs would take
// about 40 s; the shared deadline ends it all at 15 s, before any upload.
TEST_F(PersistenceWithTool, ATotalDeadlineBoundsBothRuns)
{
	double seconds = 0;
	const auto lines = Persist("late", seconds);
	EXPECT_TRUE(Has(lines, "IPD Persist: WARNING -- out of time, terminating lighthouse_console\n"))
		<< ::testing::PrintToString(lines);
	// Whether the download's output came before the deadline (then "Out of
	// time, not uploading") depends on how fast the tool starts (Wine, load);
	// either way nothing is uploaded.
	EXPECT_FALSE(Has(lines, "IPD Persist: Uploading modified config (64.0mm)\n")) << ::testing::PrintToString(lines);
	EXPECT_EQ(Stored(), original);
	EXPECT_LT(seconds, 20.0);
}

#if !defined(_WIN32)
// Another user swaps the private folder for a symlink to a folder of theirs
// whose upload file is a link to one of the wearer's files.
TEST_F(PersistenceWithTool, ASwappedTemporaryFolderRedirectsNothing)
{
	const fs::path attacker = store / "attacker";
	fs::create_directories(attacker);
	scratch.Write("bashrc", "# the wearer's\n");
	fs::create_symlink(scratch.path() / "bashrc", attacker / "zelvan_ipd_ul.json");
	// The moved folder and the link are left in a temporary folder of the test's.
	const char *tmpdir = std::getenv("TMPDIR");
	const std::string saved = tmpdir != nullptr ? tmpdir : "";
	fs::create_directories(scratch.path() / "tmp");
	setenv("TMPDIR", (scratch.path() / "tmp").c_str(), 1);
	// A link, or another real folder under the same name.
	for (const char *fault : {"swap_folder", "swap_folder_dir"}) {
		SCOPED_TRACE(fault);
		double seconds = 0;
		const auto lines = Persist(fault, seconds);
		EXPECT_TRUE(Has(lines, "IPD Persist: Temp directory was replaced, not uploading\n"))
			<< ::testing::PrintToString(lines);
		EXPECT_EQ(ReadAll(scratch.path() / "bashrc"), "# the wearer's\n");
		EXPECT_EQ(Stored(), original);
		for (const auto &entry : fs::directory_iterator(attacker))
			EXPECT_EQ(entry.path().filename(), "zelvan_ipd_ul.json");
	}
	if (tmpdir != nullptr)
		setenv("TMPDIR", saved.c_str(), 1);
	else
		unsetenv("TMPDIR");
}

// A $TMPDIR that cannot take the folder costs no IPD: /tmp serves, and the
// log says which folder was passed over and why.
TEST_F(PersistenceWithTool, AnUnusableTmpdirFallsBackToTmp)
{
	scratch.Write("a-file", "");
	fs::create_directories(scratch.path() / "tmp");
	const std::string missing = (scratch.path() / "missing").string(), file = (scratch.path() / "a-file").string();
	const struct {
		const char *tmpdir; // nullptr: unset
		std::string line;   // empty: none expected
	} cases[] = {
		{nullptr, ""},
		{"", ""},
		{"relative/tmp", "IPD Persist: Using temp directory /tmp (TMPDIR=relative/tmp: not an absolute path)\n"},
		{missing.c_str(), "IPD Persist: Using temp directory /tmp (TMPDIR=" + missing + ": No such file or directory)\n"},
		{file.c_str(), "IPD Persist: Using temp directory /tmp (TMPDIR=" + file + ": Not a directory)\n"},
	};
	const char *tmpdir = std::getenv("TMPDIR");
	const std::string saved = tmpdir != nullptr ? tmpdir : "";
	for (const auto &c : cases) {
		SCOPED_TRACE(c.tmpdir != nullptr ? c.tmpdir : "(unset)");
		if (c.tmpdir != nullptr)
			setenv("TMPDIR", c.tmpdir, 1);
		else
			unsetenv("TMPDIR");
		double seconds = 0;
		const auto lines = Persist("", seconds);
		EXPECT_TRUE(Has(lines, "IPD Persist: Successfully wrote 64.0mm to headset config\n")) << ::testing::PrintToString(lines);
		if (!c.line.empty())
			EXPECT_TRUE(Has(lines, c.line)) << ::testing::PrintToString(lines);
		else
			EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.find("temp directory") != std::string::npos; }), 0)
				<< ::testing::PrintToString(lines);
	}
	if (tmpdir != nullptr)
		setenv("TMPDIR", saved.c_str(), 1);
	else
		unsetenv("TMPDIR");
}
#else
// A temporary folder named outside ASCII reaches the console tool in its
// short form; one that has none to give, as it is missing, costs the IPD and
// the log names that cause. Control bytes of its name show as \xNN.
TEST_F(PersistenceWithTool, ATemporaryFolderNamedOutsideAsciiIsGivenInItsShortForm)
{
	const std::string wang_wei = "\xE7\x8E\x8B\xE4\xBC\x9F";
	const struct {
		std::string name;   // of the folder TMP and TEMP name, in the scratch folder
		std::string shown;  // that name in the log
		bool made;
		const char *before; // the temporary folder's line, up to its path; nullptr: none
		const char *after;  // and after it
	} cases[] = {
		{"tmp", "tmp", true, nullptr, nullptr},
		{wang_wei, wang_wei, true, "IPD Persist: Using temp directory ", ", whose name the console tool cannot read)\n"},
		{"us\xC2\x85" "er", "us\\xC2\\x85er", true, "IPD Persist: Using temp directory ",
		 ", whose name the console tool cannot read)\n"},
		{wang_wei + "-gone", wang_wei + "-gone", false, "IPD Persist: Failed to get temp directory ",
		 ": its name is not ASCII and its short form could not be read (error "},
	};
	const std::wstring saved_tmp = _wgetenv(L"TMP") != nullptr ? _wgetenv(L"TMP") : L"";
	const std::wstring saved_temp = _wgetenv(L"TEMP") != nullptr ? _wgetenv(L"TEMP") : L"";
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		const fs::path folder = scratch.path() / test::Utf8Path(c.name);
		if (c.made)
			fs::create_directories(folder);
		test::SetEnvironment("TMP", test::Utf8String(folder));
		test::SetEnvironment("TEMP", test::Utf8String(folder));
		const std::string before = Stored();
		double seconds = 0;
		const auto lines = Persist("", seconds);
		const std::string named = test::Utf8String(scratch.path() / test::Utf8Path(c.shown)) + "\\";
		const auto note = std::find_if(lines.begin(), lines.end(),
		                               [](const std::string &l) { return l.find("temp directory") != std::string::npos; });
		EXPECT_EQ(Has(lines, "IPD Persist: Successfully wrote 64.0mm to headset config\n"), c.made)
			<< ::testing::PrintToString(lines);
		EXPECT_EQ(Stored(), c.made ? Written() : before);
		if (c.before == nullptr) {
			EXPECT_EQ(note, lines.end()) << *note;
			continue;
		}
		ASSERT_NE(note, lines.end()) << ::testing::PrintToString(lines);
		if (c.made) {
			// The short form, all ASCII, then the name it stands for.
			const std::string tail = " (the short form of " + named + c.after;
			ASSERT_GT(note->size(), std::string(c.before).size() + tail.size()) << *note;
			EXPECT_EQ(note->rfind(c.before, 0), 0u) << *note;
			EXPECT_EQ(note->substr(note->size() - tail.size()), tail) << *note;
			const std::string short_form = note->substr(std::string(c.before).size(), note->size() - tail.size() - std::string(c.before).size());
			EXPECT_TRUE(std::all_of(short_form.begin(), short_form.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; }))
				<< short_form;
		} else {
			EXPECT_EQ(note->rfind(c.before + named + c.after, 0), 0u) << *note;
		}
	}
	_wputenv_s(L"TMP", saved_tmp.c_str());
	_wputenv_s(L"TEMP", saved_temp.c_str());
}
#endif

} // namespace
} // namespace zelvan
