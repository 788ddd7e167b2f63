// An IPD changed during the run reaches the headset's stored configuration
// at Cleanup, through the stand-in console tool installed where the
// runtime's registry says the runtime is.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/child_process.h"
#include "tests/support/runtime_files.h"
#include "tests/support/sim_run.h"

namespace zelvan::test {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Has(const std::vector<std::string> &log, const std::string &line)
{
	return std::find(log.begin(), log.end(), line) != log.end();
}

// The runtime's files plus the console tool and the headset's stored
// configuration it serves.
// The temporary folder is the profile's, as Windows keeps it, and so is the
// tool's store, so that the tool too meets the profile's name.
struct PersistRun : IpdRun {
	fs::path store;
	fs::path tmp;

	explicit PersistRun(const std::string &fault = "", const LayoutNames &names = {})
		: IpdRun(true, YawTransform(5, -0.032), YawTransform(-5, 0.032), names),
		  store(Utf8Path(files.user_dir) / "store"), tmp(Utf8Path(files.user_dir) / "Temp")
	{
		const std::string tool_name = std::string("lighthouse_console") + kExeSuffix;
#if defined(_WIN32)
		const fs::path bin = Utf8Path(files.runtime_dir) / "tools" / "lighthouse" / "bin" / "win64";
#else
		const fs::path bin = Utf8Path(files.runtime_dir) / "tools" / "lighthouse" / "bin" / "linux64";
#endif
		fs::create_directories(bin);
		fs::copy_file(BinPath(tool_name), bin / tool_name);
		RunProgram({BinPath(tool_name), "--init-store", Utf8String(store), kSerial, "63.5"});
		fs::create_directories(tmp);
		files.env["ZELVAN_LH_STORE"] = Utf8String(store);
		files.env["ZELVAN_LH_FAULT"] = fault;
		files.env["TMPDIR"] = Utf8String(tmp);
		files.env["TMP"] = Utf8String(tmp);
		files.env["TEMP"] = Utf8String(tmp);
	}

	std::string Stored() const { return ReadAll(store / (std::string(kSerial) + ".json")); }
	bool TmpEmpty() const { return fs::is_empty(tmp); }
};

TEST(IpdPersistsToHeadset, AChangedIpdIsWrittenIntoTheStoredConfigurationAndNothingElseChanges)
{
	PersistRun run;
	const std::string before = run.Stored();
	const SimResult result = RunSim(run.Options({"--frames", "20", "--scenario", run.Scenario("5 ipd_event 0.0642\n")}));
	ASSERT_EQ(result.exit_code, 0) << result.output;
	const auto log = result.Log();
	EXPECT_TRUE(Has(log, "IPD Persist: Downloading config for LHR-1A2B3C4D\n")) << ::testing::PrintToString(log);
	EXPECT_TRUE(Has(log, "IPD Persist: Uploading modified config (64.2mm)\n"));
	EXPECT_TRUE(Has(log, "IPD Persist: Successfully wrote 64.2mm to headset config\n"));
	std::string expected = before;
	const size_t at = expected.find("\"default_mm\" : 63.5");
	ASSERT_NE(at, std::string::npos);
	expected.replace(at, 19, "\"default_mm\" : 64.2");
	EXPECT_EQ(run.Stored(), expected);
	EXPECT_TRUE(run.TmpEmpty()) << "the temporary files and their folder are gone";
	// Cleanup's order: persistence first, then the channel, then the sensor.
	const auto persisted = std::find(log.begin(), log.end(), "IPD Persist: Successfully wrote 64.2mm to headset config\n");
	EXPECT_LT(persisted - log.begin(), std::find(log.begin(), log.end(), "Pipe: Destroyed\n") - log.begin());
}

// The configuration as the headset first came is kept before the upload,
// and zelvan-ctl restore-config puts those very bytes back through the tool.
TEST(IpdPersistsToHeadset, TheKeptOriginalRestoresTheHeadsetsBytes)
{
	PersistRun run;
	const std::string before = run.Stored();
	const SimResult result = RunSim(run.Options({"--frames", "20", "--scenario", run.Scenario("5 ipd_event 0.0642\n")}));
	ASSERT_EQ(result.exit_code, 0) << result.output;
	const auto log = result.Log();
	const std::string kept_line = "IPD Persist: Kept the headset's configuration as ";
	const auto kept = std::find_if(log.begin(), log.end(), [&](const std::string &l) { return l.rfind(kept_line, 0) == 0; });
	ASSERT_NE(kept, log.end()) << ::testing::PrintToString(log);
	const std::string original = kept->substr(kept_line.size(), kept->size() - kept_line.size() - 1);
	EXPECT_EQ(ReadAll(Utf8Path(original)), before);
	ASSERT_NE(run.Stored(), before);

	std::map<std::string, std::string> env = run.files.env;
	env["ZELVAN_TEST_CHANNEL"] = "zelvan_restore_nobody";
	const RunResult restored = RunProgram(
		{BinPath(std::string("zelvan-ctl") + kExeSuffix), "--timeout", "0.2", "restore-config", original, "--yes"}, env);
	EXPECT_EQ(restored.exit_code, 0) << restored.output;
	// The one line that differs, as it is now and as the copy has it.
	std::string shown = restored.output;
	shown.erase(std::remove(shown.begin(), shown.end(), '\r'), shown.end());
	EXPECT_NE(shown.find(":\n-       \"default_mm\" : 64.2,\n+       \"default_mm\" : 63.5,\nrestored "),
	          std::string::npos)
		<< restored.output;
	EXPECT_EQ(run.Stored(), before);
	EXPECT_TRUE(run.TmpEmpty());
}

// No control byte (C0, DEL or C1 in UTF-8) before the line end: a folder's
// name cannot drive the terminal that shows the log.
bool ShowsNoControlByte(const std::string &line)
{
	for (size_t i = 0; i + 1 < line.size(); ++i) {
		const auto c = static_cast<unsigned char>(line[i]);
		const auto next = static_cast<unsigned char>(line[i + 1]);
		if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F))
			return false;
	}
	return true;
}

// A profile or a Steam library named outside ASCII (beyond the BMP too, or
// with C1 controls), written raw or as \u escapes in the registry, each
// beside its ASCII twin: the calibration loads, the IPD is applied, and it
// reaches the headset through the profile's temporary folder; the log shows
// control bytes of a name as \xNN.
TEST(IpdPersistsToHeadset, FoldersNamedInAnyScriptKeepTheWholeRoad)
{
	const std::string jose = "Jos\xC3\xA9", wang_wei = "\xE7\x8E\x8B\xE4\xBC\x9F", gamer = "\xF0\x9F\x8E\xAE";
	const std::string jeux = "Jeux vid\xC3\xA9o", youxi = "\xE6\xB8\xB8\xE6\x88\x8F", clef = "\xF0\x9D\x84\x9E";
	const std::string nel_user = "us\xC2\x85" "er", csi_steam = "st\xC2\x85" "eam\xC2\x9B" "2J";
	struct Case {
		LayoutNames names;
		std::string steam_logged; // the Steam folder's name in the log, when it is not shown as written
	};
	const Case cases[] = {
		{{"user", "steam", false}}, {{jose, "steam", false}}, {{wang_wei, "steam", false}}, {{"user", jeux, false}},
		{{"user", youxi, false}},   {{"user", jeux, true}},   {{wang_wei, youxi, true}},   {{gamer, "steam", false}},
		{{"user", clef, true}},     {{gamer, clef, false}},
		{{"user", csi_steam, true}, "st\\xC2\\x85eam\\xC2\\x9B2J"},
		{{nel_user, csi_steam, false}, "st\\xC2\\x85eam\\xC2\\x9B2J"},
	};
	for (const Case &c : cases) {
		const LayoutNames &names = c.names;
		SCOPED_TRACE(names.user + " " + names.steam + (names.escaped ? " escaped" : ""));
		PersistRun run("", names);
		const SimResult result = RunSim(run.Options({"--frames", "20", "--scenario", run.Scenario("5 ipd_event 0.0642\n")}));
		ASSERT_EQ(result.exit_code, 0) << result.output;
		const auto log = result.Log();
		std::string calibration = run.calibration;
		if (!c.steam_logged.empty())
			calibration.replace(calibration.find(names.steam), names.steam.size(), c.steam_logged);
		EXPECT_TRUE(Has(log, "IPD: Lighthouse config loaded successfully from " + calibration + "\n"))
			<< ::testing::PrintToString(log);
		EXPECT_TRUE(Has(log, "IPD Persist: Successfully wrote 64.2mm to headset config\n"));
		EXPECT_NE(run.Stored().find("\"default_mm\" : 64.2"), std::string::npos);
		EXPECT_TRUE(run.TmpEmpty());
		for (const std::string &line : log)
			EXPECT_TRUE(ShowsNoControlByte(line)) << ::testing::PrintToString(line);
	}
}

TEST(IpdPersistsToHeadset, TheFirstModelWritesNothing)
{
	PersistRun run;
	const std::string before = run.Stored();
	SimOptions options = run.Options({"--scenario", run.Scenario("300 ipd_event 0.066\n")});
	options.sensor = "hmd_serial QK1-00000042\nlevel 0 300\n";
	options.settings_json = R"({"driver_ZelvanProximity": {"report_rate_ms": 50}})";
	RunningSim sim(options);
	ASSERT_TRUE(sim.WaitForLine("IPD Event: VREvent_IpdChanged ipd=0.0660m (66.0mm)")) << sim.Output();
	const SimResult result = sim.Stop();
	EXPECT_TRUE(Has(result.Log(), "IPD Persist: No change during session (startup=0.0635 current=0.0635), skipping\n"));
	EXPECT_EQ(run.Stored(), before);
}

TEST(IpdPersistsToHeadset, AToolThatMisbehavesNeverGetsAnUpload)
{
	struct Case {
		const char *fault;
		const char *line;
	};
	const Case cases[] = {
		{"no_file", "IPD Persist: downloadconfig completed but file not created\n"},
		{"no_default_mm", "IPD Persist: default_mm not found in config, skipping\n"},
		{"bad_default_mm", "IPD Persist: malformed config -- no numeric value for default_mm\n"},
		{"hang", "IPD Persist: downloadconfig failed\n"},
	};
	for (const Case &c : cases) {
		SCOPED_TRACE(c.fault);
		PersistRun run(c.fault);
		const std::string before = run.Stored();
		// A file left by an earlier run must not pass for new output.
		std::ofstream(run.tmp / "zelvan_ipd_dl.json") << "{ \"default_mm\" : 1.0 }";
		const auto start = std::chrono::steady_clock::now();
		const SimResult result = RunSim(run.Options({"--frames", "10", "--scenario", run.Scenario("3 ipd_event 0.064\n")}));
		const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		const auto log = result.Log();
		EXPECT_TRUE(Has(log, c.line)) << ::testing::PrintToString(log);
		EXPECT_FALSE(Has(log, "IPD Persist: Uploading modified config (64.0mm)\n"));
		EXPECT_EQ(run.Stored(), before);
		EXPECT_LT(seconds, 40.0) << "Cleanup is bounded whatever the tool does";
		fs::remove(run.tmp / "zelvan_ipd_dl.json");
#if !defined(_WIN32)
		EXPECT_TRUE(run.TmpEmpty());
#endif
	}
}

} // namespace
} // namespace zelvan::test
