// zelvan-ctl doctor: the checks shared by both platforms and their order.
#include "tools/zelvan_ctl/doctor/doctor.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "ipd/serial_check.h"
#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/doctor/json_walk.h"
#include "tools/zelvan_ctl/doctor/kept_copies.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

namespace fs = std::filesystem;

const char *const kDriverName = "ZelvanProximity";

Finding Make(const char *check, Verdict verdict, std::string found, std::string remedy = {})
{
	return Finding{check, verdict, std::move(found), verdict == Verdict::Ok ? std::string() : std::move(remedy)};
}

bool IsDirectory(const std::string &path)
{
	std::error_code error;
	return !path.empty() && fs::is_directory(Utf8Path(path), error);
}

bool IsFile(const std::string &path)
{
	std::error_code error;
	return fs::is_regular_file(Utf8Path(path), error);
}

} // namespace

// A JSON file of the runtime's, or null when it is missing or not JSON.
// Read as SteamVR reads it: comments allowed, strings as their bytes (a
// folder named in the system's code page stays that folder).
nlohmann::json ReadJsonFile(const std::string &path)
{
	std::string text, error;
	nlohmann::json value;
	if (!ReadJsonBytes(path, text, error) || !ParseJson(text, value).empty())
		return nullptr;
	return value;
}

// The strings of one of the registry's arrays, in order.
std::vector<std::string> RegistryList(const nlohmann::json &registry, const char *key)
{
	std::vector<std::string> out;
	const auto it = registry.find(key);
	if (it == registry.end() || !it->is_array())
		return out;
	for (const auto &entry : *it)
		if (entry.is_string())
			out.push_back(entry.get<std::string>());
	return out;
}

namespace {

std::string FirstOf(const std::vector<std::string> &list)
{
	return list.empty() ? std::string() : list.front();
}

// What the checks learn and pass on to the later ones.
struct Context {
	std::string registry_path;
	nlohmann::json registry; // null when there is none
	std::string runtime_dir; // empty when none exists
	std::string driver_dir;  // empty when not registered
	nlohmann::json status;   // null when the driver did not answer
};

Finding CheckSteamVr(Context &ctx)
{
	const char *check = "steamvr";
	const RegistryLocation location = FindPathRegistry();
	if (!location.found)
		return Make(check, Verdict::Fail, location.missing_var + " is not set, so SteamVR's path registry cannot be found",
		            "Run the doctor as the user who runs SteamVR, with " + location.missing_var + " set.");
	ctx.registry_path = location.path;
	const std::string remedy = "Install SteamVR and start it once, so that it writes " + location.path + ".";
	if (!IsFile(location.path))
		return Make(check, Verdict::Fail, "no path registry at " + location.path, remedy);
	ctx.registry = ReadJsonFile(location.path);
	if (!ctx.registry.is_object()) {
		ctx.registry = nullptr;
		return Make(check, Verdict::Fail, location.path + " is not a JSON object",
		            "Start SteamVR once so that it writes the file again (or restore it).");
	}
	const std::vector<std::string> runtimes = RegistryList(ctx.registry, "runtime");
	for (const std::string &dir : runtimes) {
		if (IsDirectory(dir)) {
			ctx.runtime_dir = dir;
			return Make(check, Verdict::Ok, "runtime " + dir + " (registry " + location.path + ")");
		}
	}
	if (runtimes.empty())
		return Make(check, Verdict::Fail, location.path + " names no runtime folder", remedy);
	return Make(check, Verdict::Fail, "the runtime folder " + runtimes.front() + " named in " + location.path +
	                                      " does not exist",
	            "Start SteamVR from Steam once, so that it records where it is installed.");
}

bool IsOurManifest(const std::string &dir)
{
	const nlohmann::json manifest = ReadJsonFile(JoinUtf8(dir, "driver.vrdrivermanifest"));
	const auto it = manifest.is_object() ? manifest.find("name") : manifest.end();
	return manifest.is_object() && it != manifest.end() && it->is_string() && it->get<std::string>() == kDriverName;
}

Finding CheckRegistered(Context &ctx)
{
	const char *check = "registered";
	if (ctx.registry.is_null())
		return Make(check, Verdict::Warn, "not checked: SteamVR's path registry is missing", "Fix the steamvr check first.");
	const std::vector<std::string> external = RegistryList(ctx.registry, "external_drivers");
	for (const std::string &dir : external) {
		if (IsOurManifest(dir)) {
			ctx.driver_dir = dir;
			return Make(check, Verdict::Ok, "external_drivers holds " + dir);
		}
	}
	std::string drivers;
	if (!ctx.runtime_dir.empty()) {
		drivers = JoinUtf8(ctx.runtime_dir, "drivers");
		std::error_code error;
		for (fs::directory_iterator it(Utf8Path(drivers), error), end; !error && it != end; it.increment(error)) {
			const std::string dir = Utf8String(it->path());
			if (!dir.empty() && IsOurManifest(dir)) {
				ctx.driver_dir = dir;
				return Make(check, Verdict::Ok, "in the runtime's drivers folder: " + dir);
			}
		}
	}
	std::string found = "no folder with a driver.vrdrivermanifest named " + std::string(kDriverName) + " in external_drivers (" +
	                    std::to_string(external.size()) + (external.size() == 1 ? " entry)" : " entries)");
	if (!drivers.empty())
		found += " or in " + drivers;
	return Make(check, Verdict::Fail, found, InstallRemedy());
}

Finding CheckLibrary(const Context &ctx)
{
	const char *check = "library";
	if (ctx.driver_dir.empty())
		return Make(check, Verdict::Warn, "not checked: no registered driver folder", "Fix the registered check first.");
	const std::string library = JoinUtf8(ctx.driver_dir, DriverLibraryInFolder());
	if (!IsFile(library))
		return Make(check, Verdict::Fail, library + " is missing", InstallRemedy());
	return CheckLibraryDependencies(library);
}

// --- SteamVR's log ---

// The last lines that vrserver.txt keeps of one run fit in this; an older
// part of a larger file cannot hold the last start.
constexpr std::streamoff kLogTailBytes = std::streamoff{16} << 20;

bool ReadLogTail(const std::string &path, std::string &text)
{
	std::ifstream in(Utf8Path(path), std::ios::binary);
	if (!in)
		return false;
	in.seekg(0, std::ios::end);
	const std::streamoff size = in.tellg();
	const std::streamoff start = size > kLogTailBytes ? size - kLogTailBytes : 0;
	in.seekg(start);
	text.assign(static_cast<size_t>(size - start), '\0');
	in.read(text.data(), static_cast<std::streamsize>(text.size()));
	text.resize(static_cast<size_t>(in.gcount()));
	return true;
}

std::vector<std::string> SplitLines(const std::string &text)
{
	std::vector<std::string> lines;
	size_t begin = 0;
	while (begin < text.size()) {
		size_t end = text.find('\n', begin);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(begin, end - begin);
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		lines.push_back(std::move(line));
		begin = end + 1;
	}
	return lines;
}

std::string LowerAscii(std::string text)
{
	for (char &c : text)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return text;
}

// Where the last server start begins: the last line that names vrserver and
// its startup (SteamVR opens each run with such a line). Without one the
// whole file counts as one run.
size_t LastStart(const std::vector<std::string> &lines)
{
	for (size_t i = lines.size(); i-- > 0;) {
		const std::string lower = LowerAscii(lines[i]);
		if (lower.find("vrserver") != std::string::npos && lower.find("startup") != std::string::npos)
			return i;
	}
	return 0;
}

// The text from `what` to the end of the line, quoted, control bytes escaped.
std::string Quote(const std::string &line, size_t from)
{
	return "\"" + EscapeControlBytes(line.substr(from)) + "\"";
}

struct LogRule {
	const char *text;
	Verdict verdict;
	const char *remedy;
};

// The lines of the last run that say why presence or IPD cannot work, worst
// first.
const LogRule kLogRules[] = {
	{"Unable to load driver ZelvanProximity", Verdict::Fail,
	 "The quoted error names what SteamVR could not load; see the library check above and reinstall the driver folder."},
	{"HID: hid_init() failed", Verdict::Fail,
	 "hidapi could not start inside SteamVR; reinstall the driver folder and restart SteamVR."},
	{"IPD: Refusing unsafe serial", Verdict::Warn,
	 "The headset reports a serial that cannot name a file, so IPD management stays off; presence is not affected."},
	{"Pipe: Failed to create", Verdict::Warn,
	 "Another program holds the control channel (often a SteamVR that is still shutting down); restart SteamVR."},
};

Finding CheckLog(const Context &ctx)
{
	const char *check = "log";
	if (ctx.registry.is_null())
		return Make(check, Verdict::Warn, "not checked: SteamVR's path registry is missing", "Fix the steamvr check first.");
	const std::string dir = FirstOf(RegistryList(ctx.registry, "log"));
	if (dir.empty())
		return Make(check, Verdict::Warn, ctx.registry_path + " names no log folder",
		            "Start SteamVR once, so that it records its log folder.");
	const std::string path = JoinUtf8(dir, "vrserver.txt");
	std::string text;
	if (!IsFile(path) || !ReadLogTail(path, text))
		return Make(check, Verdict::Warn, "no " + path, "Start SteamVR once, then run the doctor again.");
	const std::vector<std::string> lines = SplitLines(text);
	const size_t start = LastStart(lines);
	for (const LogRule &rule : kLogRules) {
		for (size_t i = start; i < lines.size(); ++i) {
			const size_t at = lines[i].find(rule.text);
			if (at != std::string::npos)
				return Make(check, rule.verdict, path + " line " + std::to_string(i + 1) + ": " + Quote(lines[i], at),
				            rule.remedy);
		}
	}
	const std::string where = path + " (last start at line " + std::to_string(start + 1) + ")";
	for (size_t i = start; i < lines.size(); ++i)
		if (lines[i].find("Zelvan Proximity driver initialized successfully") != std::string::npos)
			return Make(check, Verdict::Ok, "the driver loaded in the last start of " + where);
	for (size_t i = start; i < lines.size(); ++i)
		if (lines[i].find("Zelvan Proximity driver initializing") != std::string::npos)
			return Make(check, Verdict::Warn, "the driver began but did not finish initializing in the last start of " + where,
			            "Look at the driver's lines after line " + std::to_string(i + 1) + " of vrserver.txt.");
	return Make(check, Verdict::Warn, "the driver did not run in the last start of " + where,
	            "Register the driver folder (see above) and restart SteamVR.");
}

// --- The running driver ---

std::string Text(const nlohmann::json &status, const char *key)
{
	const auto it = status.find(key);
	if (it == status.end())
		return {};
	return it->is_string() ? it->get<std::string>() : it->dump();
}

// The status line in words: sensor, source of presence, IPD, calibration.
std::string StatusInWords(const nlohmann::json &status)
{
	const std::string hid = Text(status, "hid");
	std::string words = hid == "open"           ? "sensor open"
	                    : hid == "reconnecting" ? "sensor not found (retried every 5 s)"
	                    : hid == "not_connected" ? "sensor not connected (hidapi did not start)"
	                                             : "sensor " + (hid.empty() ? std::string("unknown") : hid);
	const std::string source = Text(status, "source");
	words += source == "manual" ? ", presence forced by zelvan-ctl proximity on|off" : ", presence from the sensor";
	std::string ipd = Text(status, "ipd");
	if (ipd.size() > 2 && ipd.compare(ipd.size() - 2, 2, "mm") == 0)
		ipd = ipd.substr(0, ipd.size() - 2) + " mm";
	words += ", IPD " + (ipd.empty() ? std::string("unknown") : ipd);
	words += Text(status, "lh_config") == "loaded" ? ", calibration loaded" : ", calibration not loaded";
	return words;
}

Finding CheckRunning(Context &ctx, const std::string &channel, std::chrono::milliseconds timeout)
{
	const char *check = "running";
	const Exchange exchange = SendCommand(channel, "status", timeout);
	switch (exchange.outcome) {
	case Outcome::NoDriver:
		return Make(check, Verdict::Fail, "nothing answers on " + channel,
		            "Start SteamVR with the headset connected; if it runs, the log check above says why the driver does not.");
	case Outcome::TimedOut:
		return Make(check, Verdict::Fail, "no reply on " + channel + " in time",
		            "The driver is busy or stalled; restart SteamVR.");
	case Outcome::Failed:
		if (exchange.foreign_uid >= 0)
			return ForeignChannelHolder(channel, exchange.foreign_uid);
		return Make(check, Verdict::Fail, channel + ": " + EscapeControlBytes(exchange.reply),
		            "Run the doctor as the user who runs SteamVR.");
	case Outcome::Replied:
		break;
	}
	if (ClassifyReply(exchange.reply) != ReplyKind::Status)
		return Make(check, Verdict::Fail, "unexpected reply to status: " + Quote(exchange.reply, 0),
		            "Another program serves " + channel + "; stop it and restart SteamVR.");
	ctx.status = ReplyToJson(exchange.reply);
	// The driver answering is not yet presence: it also needs the sensor.
	if (Text(ctx.status, "hid") != "open")
		return Make(check, Verdict::Warn, StatusInWords(ctx.status),
		            "The driver runs without the sensor; the sensor check says why.");
	return Make(check, Verdict::Ok, StatusInWords(ctx.status));
}

// --- The runtime's files for the driver ---

std::string ConfigDir(const Context &ctx)
{
	return ctx.registry.is_null() ? std::string() : FirstOf(RegistryList(ctx.registry, "config"));
}

Finding CheckCalibration(const Context &ctx)
{
	const char *check = "calibration";
	if (Text(ctx.status, "lh_config") == "loaded")
		return Make(check, Verdict::Ok, "loaded by the driver");
	const std::string config = ConfigDir(ctx);
	if (config.empty())
		return Make(check, Verdict::Warn, "not checked: the registry names no config folder", "Fix the steamvr check first.");
	// The status carries no serial, so every headset the runtime has seen counts.
	std::vector<std::string> found;
	std::error_code error;
	for (fs::directory_iterator it(Utf8Path(JoinUtf8(config, "lighthouse")), error), end; !error && it != end;
	     it.increment(error)) {
		const std::string serial = Utf8String(it->path().filename());
		if (IsSafeSerial(serial) && IsFile(CalibrationPath(config, serial)))
			found.push_back(CalibrationPath(config, serial));
	}
	std::sort(found.begin(), found.end());
	const std::string remedy = "Only the second model needs it for IPD: connect the headset and start SteamVR once, so that "
	                           "it stores the calibration.";
	if (found.empty())
		return Make(check, Verdict::Warn, "no " + CalibrationPath(config, "<serial>"), remedy);
	std::string list;
	for (const std::string &path : found)
		list += (list.empty() ? "" : ", ") + path;
	if (ctx.status.is_null())
		return Make(check, Verdict::Ok, "found " + list);
	return Make(check, Verdict::Warn, "found " + list + ", but the driver has not loaded it",
	            "Restart SteamVR with the headset connected, or load it with zelvan-ctl load_lh_config PATH.");
}

Finding CheckPresenceMode(const Context &ctx)
{
	const char *check = "presence_mode";
	const std::string config = ConfigDir(ctx);
	if (config.empty())
		return Make(check, Verdict::Warn, "not checked: the registry names no config folder", "Fix the steamvr check first.");
	const SettingsFile settings = ReadSettings(config);
	std::string mode = "auto";
	if (const JsonMember *set = settings.Find("presence_mode"))
		mode = set->is_string ? set->string : settings.Text(*set);
	const std::string give_back = "set it with zelvan-ctl proximity auto --persist to give presence back to the sensor.";
	if (mode == "auto")
		return Make(check, Verdict::Ok, "presence_mode=auto: the sensor decides");
	if (mode == "on")
		return Make(check, Verdict::Warn, "presence_mode=on: presence is always 'worn'", "Only if that is not meant: " + give_back);
	if (mode == "off")
		return Make(check, Verdict::Warn, "presence_mode=off: presence is always 'not worn'", "Only if that is not meant: " + give_back);
	return Make(check, Verdict::Warn, "presence_mode=" + EscapeControlBytes(mode) + " is not auto, on or off",
	            "Correct it: " + give_back);
}

// One line for each copy of the headset's configuration the driver kept,
// which restore-config can put back.
void ListKept(std::vector<Finding> &findings)
{
	const char *check = "kept_config";
	const KeptCopies kept = ListKeptCopies();
	if (kept.copies.empty()) {
		findings.push_back(Make(check, Verdict::Ok, kept.folder.empty() ? "no copy kept yet (" + kept.note + ")"
		                                                                 : "no copy kept yet in " + kept.folder));
		return;
	}
	for (const KeptCopy &copy : kept.copies)
		findings.push_back(Make(check, Verdict::Ok,
		                        copy.path + (copy.original ? " (as the headset " + copy.serial + " first came)"
		                                                   : " (the last download before an upload)")));
}

RuntimeView View(const Context &ctx)
{
	return {ctx.registry_path, RegistryList(ctx.registry, "external_drivers"), ctx.runtime_dir, ConfigDir(ctx),
	        ctx.registry.is_object()};
}

} // namespace

RuntimeView LookUpRuntime()
{
	Context ctx;
	CheckSteamVr(ctx);
	return View(ctx);
}

bool IsOurDriverFolder(const std::string &dir)
{
	return IsOurManifest(dir);
}

std::vector<Finding> Examine(const std::string &channel, std::chrono::milliseconds timeout)
{
	Context ctx;
	std::vector<Finding> findings;
	findings.push_back(CheckSteamVr(ctx));
	findings.push_back(ExamineRegistrations(View(ctx), CheckRegistered(ctx)));
	findings.push_back(CheckSteamVrSettings(ConfigDir(ctx)));
	findings.push_back(CheckLibrary(ctx));
	findings.push_back(CheckLog(ctx));
	findings.push_back(CheckRunning(ctx, channel, timeout));
	findings.push_back(CheckSensor(ctx.status));
	findings.push_back(CheckCalibration(ctx));
	findings.push_back(CheckPresenceMode(ctx));
	ListKept(findings);
	return findings;
}

} // namespace zelvan::ctl
