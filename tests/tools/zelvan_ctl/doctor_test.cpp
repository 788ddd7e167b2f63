// zelvan-ctl doctor against scratch layouts of the runtime's files, the
// driver folder, SteamVR's log and (on Linux) sysfs: one table per check.
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/child_process.h"
#include "tests/support/fixtures.h"
#include "tests/support/runtime_files.h"
#include "tests/support/sim_run.h"
#include "tests/tools/zelvan_ctl/doctor_fixture.h"

#if !defined(_WIN32)
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "control/abstract_socket_posix.h"
#endif

namespace zelvan::test {
namespace {

struct Line {
	std::string status, text; // text: what was found and the remedy
};

Line Check(const RunResult &run, const std::string &check)
{
	const nlohmann::json all = nlohmann::json::parse(run.output, nullptr, false);
	if (!all.is_array())
		return {"(no JSON)", run.output};
	for (const auto &item : all)
		if (item["check"] == check)
			return {item["status"], item["found"].get<std::string>() + " -- " + item.value("remedy", "")};
	return {"(missing)", run.output};
}

struct Case {
	const char *name;
	std::function<void(Layout &)> lay_out;
	const char *status;
	std::string fragment;
	LayoutNames names = {};
};

void RunTable(const std::string &check, const std::vector<Case> &cases, const std::map<std::string, std::string> &env = {})
{
	for (const Case &c : cases) {
		Layout layout(c.names);
		c.lay_out(layout);
		const RunResult run = layout.Doctor(env);
		const Line line = Check(run, check);
		EXPECT_EQ(line.status, c.status) << c.name << ": " << line.text;
		EXPECT_NE(line.text.find(c.fragment), std::string::npos) << c.name << ": " << line.text;
	}
}

TEST(Doctor, SteamVrIsFoundThroughTheRegistry)
{
	RunTable("steamvr", {
		{"laid out", [](Layout &) {}, "ok", "runtime "},
		{"no registry", [](Layout &l) { fs::remove(l.registry); }, "FAIL", "no path registry at"},
		{"not JSON", [](Layout &l) { WriteFile(l.registry, "{\"runtime\": ["); }, "FAIL", "is not a JSON object"},
		{"runtime gone", [](Layout &l) { fs::remove_all(l.files.runtime_dir); }, "FAIL", "does not exist"},
		{"a gone runtime before one that is there",
		 [](Layout &l) { l.Patch({{"runtime", {Utf8String(l.dir.path() / "gone"), l.files.runtime_dir}}}); }, "ok",
		 "runtime "},
		{"real registry of another machine",
		 [](Layout &l) { fs::copy_file(FixturePath("openvrpaths_linux.vrpath"), l.registry, fs::copy_options::overwrite_existing); },
		 "FAIL", "/home/jay/.local/share/Steam/steamapps/common/SteamVR"},
	});
}

TEST(Doctor, DriverFolderIsRegisteredAndComplete)
{
	RunTable("registered", {
		{"external_drivers null", [](Layout &) {}, "FAIL", "no folder with a driver.vrdrivermanifest named ZelvanProximity"},
		{"registered", [](Layout &l) { l.Registered(); }, "ok", "external_drivers holds"},
		{"in the runtime's drivers", [](Layout &l) { l.DriverFolder("steam/steamapps/common/SteamVR/drivers/zelvan"); },
		 "ok", "drivers folder"},
		{"registered as Jos\xC3\xA9", [](Layout &l) { l.Registered(true, true, "Jos\xC3\xA9"); }, "ok",
		 "Jos\xC3\xA9"},
		{"in the drivers of a runtime in Jeux vid\xC3\xA9o",
		 [](Layout &l) { l.DriverFolder("Jeux vid\xC3\xA9o/steamapps/common/SteamVR/drivers/zelvan"); }, "ok",
		 "Jeux vid\xC3\xA9o", kJoseJeuxVideo},
		{"another driver's manifest",
		 [](Layout &l) {
			 const fs::path folder = l.Registered();
			 WriteFile(folder / "driver.vrdrivermanifest", R"({"name": "sample"})");
		 },
		 "FAIL", "install"},
	});
	RunTable("library", {
		{"not registered", [](Layout &) {}, "warn", "not checked"},
		{"complete", [](Layout &l) { l.Registered(); }, "ok", "driver_ZelvanProximity"},
		{"complete, in \xE6\xB8\xB8\xE6\x88\x8F", [](Layout &l) { l.Registered(true, true, "\xE6\xB8\xB8\xE6\x88\x8F"); },
		 "ok", "\xE6\xB8\xB8\xE6\x88\x8F"},
		{"no library", [](Layout &l) { l.Registered(false); }, "FAIL", "driver_ZelvanProximity"},
#if defined(_WIN32)
		{"no hidapi.dll", [](Layout &l) { l.Registered(true, false); }, "FAIL", "hidapi.dll is missing"},
#else
		{"no bundled hidapi", [](Layout &l) { l.Registered(true, false); }, "FAIL",
		 "libhidapi-hidraw.so.0 is missing (the driver's hidapi, loaded from beside it) -- Reinstall"},
		{"bundled hidapi cut short",
		 [](Layout &l) { WriteFile(l.Registered() / kHidapi, ""); }, "FAIL", "libhidapi-hidraw.so.0: "},
#endif
	});
}

#if !defined(_WIN32)
TEST(Doctor, LibraryDependenciesAsLddTellsThem)
{
	ScratchDir tools;
	tools.Write("ldd", "#!/bin/sh\necho '\tlinux-vdso.so.1 (0x00007ffd)'\necho '\tlibusb-9.so.0 => not found'\n");
	fs::permissions(tools.File("ldd"), fs::perms::owner_all);
	ScratchDir empty;
	const std::vector<Case> with_fake_ldd = {
		{"unresolved dependency", [](Layout &l) { l.Registered(); }, "FAIL", "needs libusb-9.so.0, which the loader"}};
	RunTable("library", with_fake_ldd, {{"PATH", tools.path().string()}});
	const std::vector<Case> without_ldd = {
		{"no ldd", [](Layout &l) { l.Registered(); }, "warn", "ldd is not available"}};
	RunTable("library", without_ldd, {{"PATH", empty.path().string()}});
}
#endif

std::function<void(Layout &)> Log(const std::string &text)
{
	return [text](Layout &l) { WriteFile(l.logs / "vrserver.txt", text); };
}

TEST(Doctor, LastStartInSteamVrsLogSaysWhy)
{
	const std::string start = "Tue Dec 08 2026 10:00:00.000 - ================ vrserver 2.7 startup ================\n";
	const std::string loaded = "Tue Dec 08 2026 10:00:01.000 - driver_ZelvanProximity: Zelvan Proximity driver "
	                           "initialized successfully\n";
	const std::string unable = "Tue Dec 08 2026 10:00:01.000 - Unable to load driver ZelvanProximity because of error "
	                           "VRInitError_Init_FileNotFound(103). Skipping.\n";
	RunTable("log", {
		{"no log", [](Layout &) {}, "warn", "vrserver.txt -- Start SteamVR"},
		{"loaded", Log(start + loaded), "ok", "the driver loaded in the last start"},
		{"not loaded", Log(start + unable), "FAIL",
		 "\"Unable to load driver ZelvanProximity because of error VRInitError_Init_FileNotFound(103). Skipping.\""},
		{"failed once, loaded since", Log(start + unable + start + loaded), "ok", "line 3)"},
		{"hid_init", Log(start + loaded.substr(0, 54) + "HID: hid_init() failed\r\n" + loaded), "FAIL", "hid_init() failed"},
		{"pipe", Log(start + loaded + "x - driver_ZelvanProximity: Pipe: Failed to create named pipe (error 98)\n"), "warn",
		 "\"Pipe: Failed to create named pipe (error 98)\""},
		{"unsafe serial", Log(start + "IPD: Refusing unsafe serial \"a/b\"\n" + loaded), "warn", "Refusing unsafe serial"},
		{"no start marker", Log(loaded), "ok", "last start at line 1"},
		{"other drivers only", Log(start + "Loaded server driver lighthouse\n"), "warn", "did not run"},
		{"began, never finished", Log(start + "driver_ZelvanProximity: Zelvan Proximity driver initializing\n"), "warn",
		 "did not finish"},
	});
}

TEST(Doctor, RunningDriverIsDescribedInWords)
{
	Layout layout;
	EXPECT_EQ(Check(layout.Doctor(), "running").status, "FAIL");
	EXPECT_NE(Check(layout.Doctor(), "running").text.find("nothing answers on"), std::string::npos);

	SimOptions options;
	options.sensor = "level 0 2400\n";
	RunningSim sim(options);
	ASSERT_TRUE(sim.WaitForChannel()) << sim.Output();
	ASSERT_TRUE(sim.WaitForLine("HID: Device opened/reconnected")) << sim.Output();
	const RunResult run = layout.Doctor(sim.ClientEnv());
	const Line running = Check(run, "running");
	EXPECT_EQ(running.status, "ok") << running.text;
	EXPECT_NE(running.text.find("sensor open, presence from the sensor, IPD unknown, calibration not loaded"),
	          std::string::npos)
		<< running.text;
#if defined(_WIN32)
	const Line sensor = Check(run, "sensor");
	EXPECT_EQ(sensor.status, "ok") << sensor.text;
#endif
}

TEST(Doctor, CalibrationAndPresenceModeComeFromTheConfigFolder)
{
	RunTable("calibration", {
		{"none", [](Layout &) {}, "warn", "lighthouse"},
		{"stored", [](Layout &l) { WriteCalibration(l.files, kSerial, "{}"); }, "ok", "lhr-1a2b3c4d"},
	});
	const auto settings = [](const std::string &text) {
		return [text](Layout &l) { WriteFile(SettingsPath(l), text); };
	};
	RunTable("presence_mode", {
		{"no settings", [](Layout &) {}, "ok", "presence_mode=auto"},
		{"no key", settings(R"({"driver_ZelvanProximity": {"ipd_mm": 63}})"), "ok", "presence_mode=auto"},
		{"on", settings(R"({"driver_ZelvanProximity": {"presence_mode": "on"}})"), "warn",
		 "presence is always 'worn' -- Only if that is not meant: set it with zelvan-ctl proximity auto --persist"},
		{"off", settings(R"({"driver_ZelvanProximity": {"presence_mode": "off"}})"), "warn", "always 'not worn'"},
		{"unknown", settings(R"({"driver_ZelvanProximity": {"presence_mode": 3}})"), "warn", "presence_mode=3 is not"},
	});
}

#if !defined(_WIN32)
std::function<void(Layout &)> Sensor(const char *hid_id, bool node, const char *rule_dir)
{
	return [=](Layout &l) {
		WriteFile(l.root / "sys/class/hidraw/hidraw3/device/uevent",
		          std::string("DRIVER=hid-generic\nHID_ID=") + hid_id + "\nHID_NAME=Zelvan\n");
		if (node)
			WriteFile(l.root / "dev/hidraw3", "");
		if (rule_dir != nullptr)
			WriteFile(l.root / rule_dir / "70-zelvan-proximity.rules",
			          "KERNEL==\"hidraw*\", ATTRS{idVendor}==\"35bd\", ATTRS{idProduct}==\"0101\", TAG+=\"uaccess\"\n");
	};
}

TEST(Doctor, SensorNodeAccessAndUdevRule)
{
	std::vector<Case> cases = {
		{"no sysfs", [](Layout &) {}, "FAIL", "no hidraw node of 35bd:0101 (no udev rule for it)"},
		{"another device", Sensor("0003:0000046D:0000C52B", true, "etc/udev/rules.d"), "FAIL", "no hidraw node"},
		{"lower-case id, no node", Sensor("0003:000035bd:00000101", false, nullptr), "FAIL",
		 "does not exist (no udev rule for it) -- Install the udev rule with the driver folder's install.sh --udev"},
		{"no rule", Sensor("0003:000035BD:00000101", true, nullptr), "warn", "install.sh --udev"},
		{"rule in /etc", Sensor("0003:000035BD:00000101", true, "etc/udev/rules.d"), "ok", "opens for reading and writing"},
		{"rule in /usr/lib", Sensor("0003:000035BD:00000101", true, "usr/lib/udev/rules.d"), "ok", "usr/lib/udev"},
	};
	if (geteuid() != 0) // root opens any node
		cases.push_back({"no access", [](Layout &l) {
			                 Sensor("0003:000035BD:00000101", true, nullptr)(l);
			                 fs::permissions(l.root / "dev/hidraw3", fs::perms::none);
		                 },
		                 "FAIL", "install.sh --udev"});
	RunTable("sensor", cases);
}
#endif

// --- SteamVR's own decisions: its settings file and its path registry ---

std::function<void(Layout &)> Settings(const std::string &text)
{
	return [text](Layout &l) { WriteFile(SettingsPath(l), text); };
}

TEST(Doctor, SteamVrSettingsSayWhySteamVrSkipsTheDriver)
{
	// The file's whole name ends only the messages about what is in it.
	const auto file_in = [](const char *steam) {
		return steam + std::string(kSeparator) + "config" + kSeparator + "steamvr.vrsettings)";
	};
	RunTable("steamvr_settings", {
		{"SteamVR has not run", [](Layout &) {}, "ok", "(SteamVR has not run)"},
		{"real file", [](Layout &l) {
			 fs::copy_file(FixturePath("steamvr_psmoveservice_issue166.vrsettings"), SettingsPath(l));
		 }, "ok", "neither blocked nor turned off"},
		{"blocked", Settings(SettingsWith(kBlocked)), "FAIL",
		 "SteamVR blocked the driver after a crash (\"blocked_by_safe_mode\" : true in driver_ZelvanProximity of"},
		{"turned off", Settings(SettingsWith(kDisabled)), "FAIL", "turned off in Manage Add-ons (\"enable\" : false"},
		{"both", Settings(SettingsWith(kBoth)), "FAIL", "(it clears both)"},
		{"keys present, not blocking", Settings(SettingsWith(kNeither)), "ok", "neither"},
		{"another driver blocked", Settings(SettingsWith(kOtherBlocked)), "ok", "neither"},
		{"not JSON", Settings("{\n   \"steamvr\" : {\n      \"a\" : 1,\n   }\n"), "FAIL", "is not JSON: parse error at line 4"},
		{"blocked, in Jeux vid\xC3\xA9o", Settings(SettingsWith(kBlocked)), "FAIL", file_in("Jeux vid\xC3\xA9o"),
		 kJoseJeuxVideo},
		{"blocked, in \xE6\xB8\xB8\xE6\x88\x8F written escaped", Settings(SettingsWith(kBlocked)), "FAIL",
		 file_in("\xE6\xB8\xB8\xE6\x88\x8F"), kYouxiEscaped},
	});
}

TEST(Doctor, RegisteredNamesEveryCopyAndFoldersThatAreGone)
{
	// A folder as an install script leaves it: the marker names it.
	const auto installed = [](Layout &l, const std::string &name) {
		const fs::path folder = l.DriverFolder(name);
		WriteFile(folder / ".zelvan-install", Utf8String(folder) + "\n");
		return folder;
	};
	const auto patch = [](Layout &l, const std::vector<fs::path> &dirs) {
		nlohmann::json list = nlohmann::json::array();
		for (const fs::path &dir : dirs)
			list.push_back(Utf8String(dir));
		l.Patch({{"external_drivers", list}});
	};
	RunTable("registered", {
		{"registered and in the runtime's drivers",
		 [](Layout &l) {
			 l.Registered();
			 l.DriverFolder("steam/steamapps/common/SteamVR/drivers/zelvan");
		 },
		 "FAIL", "2 copies of the driver: "},
		{"two registered folders",
		 [&](Layout &l) { patch(l, {l.DriverFolder("a"), l.DriverFolder("b")}); }, "FAIL",
		 "-- Keep one: uninstall the others"},
		{"two registered folders, one installed",
		 [&](Layout &l) { patch(l, {l.DriverFolder("a"), installed(l, "b")}); }, "FAIL",
		 "-- Run zelvan-ctl doctor --fix with SteamVR closed: it keeps "},
		{"two installs", [&](Layout &l) { patch(l, {installed(l, "a"), installed(l, "b")}); }, "FAIL",
		 "does not choose between installs"},
		{"installed, and in the runtime's drivers",
		 [&](Layout &l) {
			 patch(l, {installed(l, "a")});
			 l.DriverFolder("steam/steamapps/common/SteamVR/drivers/zelvan");
		 },
		 "FAIL", "from SteamVR's drivers folder yourself"},
		{"one folder registered twice",
		 [&](Layout &l) { patch(l, {l.DriverFolder("a"), l.dir.path() / "a" / ""}); }, "ok", "external_drivers holds"},
		{"a registered folder is gone",
		 [&](Layout &l) { patch(l, {l.dir.path() / "gone", l.DriverFolder("a")}); }, "warn", "gone does not exist (SteamVR skips it)"},
		{"only a folder that is gone",
		 [&](Layout &l) { patch(l, {l.dir.path() / "gone"}); }, "FAIL", "doctor --fix leaves it registered"},
		{"only our folder that is gone", [&](Layout &l) { patch(l, {l.dir.path() / "zelvanproximity"}); }, "FAIL",
		 "does not exist (SteamVR skips it) -- Install the driver folder with its install"},
		{"a disk that is not mounted",
		 [&](Layout &l) { patch(l, {l.dir.path() / "media" / "VR" / "driver_othervendor", l.DriverFolder("a")}); },
		 "warn", "driver_othervendor cannot be checked (the folder above it is not there"},
		{"a relative name", [&](Layout &l) { patch(l, {"driver_othervendor", l.DriverFolder("a")}); }, "warn",
		 "folder driver_othervendor cannot be checked (not a full path) -- zelvan-ctl doctor --fix leaves"},
	});
}

#if !defined(_WIN32)
TEST(Doctor, ChannelHeldByAnotherUserIsNamed)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to listen as another user";
	const std::string name = "zelvan_doctor_foreign_" + std::to_string(getpid());
	int ready[2];
	ASSERT_EQ(pipe(ready), 0);
	const pid_t child = fork();
	ASSERT_GE(child, 0);
	if (child == 0) {
		AbstractAddress address;
		const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
		if (setuid(65534) != 0 || !MakeAbstractAddress(name, address) || bind(fd, address.get(), address.length) != 0 ||
		    listen(fd, 4) != 0)
			_exit(1);
		(void)!write(ready[1], "x", 1);
		pause();
		_exit(0);
	}
	close(ready[1]);
	char byte = 0;
	const bool listening = read(ready[0], &byte, 1) == 1;
	close(ready[0]);
	Layout layout;
	const Line line = listening ? Check(layout.Doctor({{"ZELVAN_TEST_CHANNEL", name}}), "running") : Line{};
	kill(child, SIGKILL);
	waitpid(child, nullptr, 0);
	ASSERT_TRUE(listening);
	EXPECT_EQ(line.status, "FAIL") << line.text;
	EXPECT_NE(line.text.find("a program of uid 65534 holds the driver's channel name @" + name +
	                         " -- Stop that program: the driver takes the channel within 5 s once it is free. "
	                         "Find it with ss -xlp | grep zelvan_proximity_ctl"),
	          std::string::npos)
		<< line.text;
}
#endif

} // namespace
} // namespace zelvan::test
