// What zelvan-ctl doctor prints: one line per check and a summary, or JSON, with every name escaped.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/tools/zelvan_ctl/doctor_fixture.h"
#include "tools/zelvan_ctl/doctor/doctor.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace zelvan::test {
namespace {

#if defined(_WIN32)
const std::string kKeptSerial = "LHR-1A2B3C4D", kKeptShown = "LHR-1A2B3C4D.original.2026-01-01.json (as the headset";
fs::path KeptFolder(const Layout &l)
{
	return Utf8Path(l.files.user_dir) / "ZelvanProximity" / "kept-config";
}
#else
const std::string kKeptSerial = "LHR-\x1b[2J", kKeptShown = "LHR-\\x1B[2J.original.2026-01-01.json (as the headset";
fs::path KeptFolder(const Layout &l)
{
	return Utf8Path(l.env.at("XDG_DATA_HOME")) / "zelvan-proximity" / "kept-config";
}
#endif

// Paths from the registry, the file system and sysfs reach the terminal only
// escaped, in both forms; a FIFO where a file is read holds nothing up.
TEST(Doctor, HostileNamesAreEscapedAndFifosDoNotHang)
{
	const std::string clear = "\x1b[2J", title = "\x1b]0;title\x07";
	const struct {
		const char *name;
		std::function<void(Layout &)> lay_out;
		std::string shown;
	} cases[] = {
		{"runtime", [&](Layout &l) { l.Patch({{"runtime", {(l.dir.path() / ("rt" + clear)).string()}}}); }, "rt\\x1B[2J"},
		{"log", [&](Layout &l) { l.Patch({{"log", {(l.dir.path() / ("log" + title)).string()}}}); }, "log\\x1B]0;title\\x07"},
		// A copy the driver kept of the headset's configuration is listed.
		{"kept copy", [&](Layout &l) { WriteFile(KeptFolder(l) / (kKeptSerial + ".original.2026-01-01.json"), "{}"); },
		 kKeptShown},
#if !defined(_WIN32)
		{"driver", [](Layout &l) { l.Patch({{"external_drivers", {l.DriverFolder("drv\b\b", false).string()}}}); },
		 "drv\\x08\\x08"},
		{"hidraw node",
		 [&](Layout &l) { WriteFile(l.root / "sys/class/hidraw" / ("hid" + clear) / "device/uevent", "HID_ID=0003:000035BD:00000101\n"); },
		 "hid\\x1B[2J is in sysfs"},
		{"udev rule", [&](Layout &l) { WriteFile(l.root / "etc/udev/rules.d" / ("70" + title + ".rules"), "35bd 0101"); },
		 "70\\x1B]0;title\\x07.rules"},
		{"FIFOs",
		 [](Layout &l) {
			 fs::create_directories(l.root / "sys/class/hidraw/hidraw3/device");
			 fs::create_directories(l.root / "etc/udev/rules.d");
			 ASSERT_EQ(mkfifo((l.root / "sys/class/hidraw/hidraw3/device/uevent").c_str(), 0600), 0);
			 ASSERT_EQ(mkfifo((l.root / "etc/udev/rules.d/70-zelvan-proximity.rules").c_str(), 0600), 0);
		 },
		 "no hidraw node of 35bd:0101 (no udev rule for it)"},
		// Latin-1's 0x9B is a terminal's CSI on its own.
		{"runtime in Latin-1",
		 [](Layout &l) { WriteFile(l.registry, "{ \"runtime\" : [ \"" + l.dir.path().string() + "/rt\x9B" "2J\" ] }"); },
		 "rt\\x9B2J"},
#endif
	};
	for (const auto &c : cases) {
		for (const bool json : {false, true}) {
			Layout layout;
			c.lay_out(layout);
			const RunResult run = layout.Doctor({}, json);
			const auto raw = std::find_if(run.output.begin(), run.output.end(), [](char ch) {
				return (static_cast<unsigned char>(ch) < 0x20 && ch != '\n' && ch != '\r') || ch == 0x7f;
			});
			EXPECT_EQ(raw, run.output.end()) << c.name << (json ? " (JSON)" : "") << ": a raw control byte in\n" << run.output;
			std::string text = run.output;
			if (json) // what a JSON reader gets
				for (const auto &item : nlohmann::json::parse(run.output))
					text += item["found"].get<std::string>() + " -- " + item.value("remedy", "") + "\n";
			EXPECT_NE(text.find(c.shown), std::string::npos) << c.name << (json ? " (JSON)" : "") << ": " << run.output;
		}
	}
}

TEST(Doctor, TextFormHasOneLinePerCheckAndExitsOneOnFailure)
{
	Layout layout;
	const RunResult run = layout.Doctor({}, false);
	EXPECT_EQ(run.exit_code, 1);
#if defined(_WIN32)
	const char *const sensor = "warn  sensor ";
	const char *const summary = "4 ok, 4 warn, 2 FAIL: fix the FAIL lines from the top";
#else
	const char *const sensor = "FAIL  sensor ";
	const char *const summary = "4 ok, 3 warn, 3 FAIL: fix the FAIL lines from the top";
#endif
	const std::string output = "\n" + run.output;
	for (const char *line : {"ok    steamvr ", "FAIL  registered ", "ok    steamvr_settings ", "warn  library ", "warn  log ", "FAIL  running ", sensor,
	                         "warn  calibration ", "ok    presence_mode ", "ok    kept_config "})
		EXPECT_NE(output.find(std::string("\n") + line), std::string::npos) << line << output;
	EXPECT_NE(output.find(summary), std::string::npos) << output;
	EXPECT_NE(output.find(" -- Start SteamVR"), std::string::npos) << "the log's remedy after its finding: " << output;
}

// The summary says what is left when nothing failed.
TEST(Doctor, SummaryLineSaysWhatIsLeft)
{
	const struct {
		std::vector<ctl::Verdict> verdicts;
		const char *summary;
	} rows[] = {
		{{ctl::Verdict::Ok, ctl::Verdict::Warn, ctl::Verdict::Warn}, "\n1 ok, 2 warn, 0 FAIL: nothing failed\n"},
		{{ctl::Verdict::Ok}, "\n1 ok, 0 warn, 0 FAIL: all good\n"},
	};
	for (const auto &row : rows) {
		std::vector<ctl::Finding> findings;
		for (const ctl::Verdict verdict : row.verdicts)
			findings.push_back({"check", verdict, "found", verdict == ctl::Verdict::Ok ? "" : "remedy"});
		const std::string text = ctl::FindingsText(findings);
		EXPECT_TRUE(text.ends_with(row.summary)) << text;
	}
}

} // namespace
} // namespace zelvan::test
