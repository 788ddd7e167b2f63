// zelvan-ctl doctor: what SteamVR itself decided about the driver. Its
// settings file can block the driver after a crash or hold it turned off,
// and its path registry can name the driver twice or name folders that are
// gone.
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/text_escape.h"
#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

const char *const kDriverSection = "driver_ZelvanProximity";

namespace {

namespace fs = std::filesystem;

Finding Make(const char *check, Verdict verdict, std::string found, std::string remedy = {})
{
	return Finding{check, verdict, std::move(found), verdict == Verdict::Ok ? std::string() : std::move(remedy)};
}

std::string Esc(const std::string &text)
{
	return EscapeForTerminal(text);
}

// What the install scripts leave in the folder they made (its first line
// names that folder), and what the setup program leaves in its folder.
const char *const kInstallMarker = ".zelvan-install";
const char *const kSetupUninstaller = "uninstall.exe";
// The folder name every installer gives the driver.
const char *const kOurFolderName = "zelvanproximity";

// Two spellings of one folder (a trailing separator, a symlink) are one copy.
std::string SameFolderKey(const std::string &dir)
{
	std::error_code error;
	const fs::path path = Utf8Path(dir);
	const fs::path canonical = fs::weakly_canonical(path, error);
	std::string key = Utf8String((error ? path : canonical).lexically_normal());
	while (key.size() > 1 && (key.back() == '/' || key.back() == '\\'))
		key.pop_back();
	return key;
}

// The folder's own name: the last part, a trailing separator aside.
fs::path LastPart(const fs::path &path)
{
	return path.has_filename() ? path.filename() : path.parent_path().filename();
}

bool IsFile(const fs::path &path)
{
	std::error_code error;
	return !path.empty() && fs::is_regular_file(path, error);
}

// A marker copied along with its folder names the folder it came from: that
// copy is not the install. install.cmd writes the name in the console's code
// page, so on Windows a name that is not UTF-8 cannot be compared and is
// trusted.
bool IsScriptInstall(const std::string &dir)
{
	const fs::path marker = Utf8Path(JoinUtf8(dir, kInstallMarker));
	if (!IsFile(marker))
		return false;
	std::ifstream in(marker, std::ios::binary);
	char line[4096] = {};
	in.getline(line, sizeof(line));
	std::string first = line;
	if (!first.empty() && first.back() == '\r')
		first.pop_back();
	if (first.empty())
		return false;
	return Utf8Path(first).empty() || SameFolder(first, dir);
}

// Who made the copy in `dir`, or nullptr when no installer says it did.
const char *InstalledBy(const std::string &dir, const std::string &setup_folder)
{
	if (IsScriptInstall(dir))
		return kInstallScript;
	if (!setup_folder.empty() && SameFolder(dir, setup_folder) && IsFile(Utf8Path(JoinUtf8(dir, kSetupUninstaller))))
		return "the setup program";
	return nullptr;
}

// A folder that is gone was the driver's when it bears the name every
// installer gives it, or the setup program says it installed there.
bool WasOurFolder(const std::string &dir, const std::string &setup_folder)
{
	std::string name = Utf8String(LastPart(Utf8Path(dir)));
	for (char &c : name)
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
	return name == kOurFolderName || (!setup_folder.empty() && SameFolder(dir, setup_folder));
}

} // namespace

std::string EscapedList(const std::vector<std::string> &items)
{
	std::string out;
	for (const std::string &item : items)
		out += (out.empty() ? "" : ", ") + Esc(item);
	return out;
}

bool SameFolder(const std::string &a, const std::string &b)
{
	std::error_code error;
	return (fs::equivalent(Utf8Path(a), Utf8Path(b), error) && !error) || SameFolderKey(a) == SameFolderKey(b);
}

FolderState RegisteredFolderState(const std::string &dir, std::string *why)
{
	const auto unknown = [why](const char *reason) {
		if (why != nullptr)
			*why = reason;
		return FolderState::Unknown;
	};
	const fs::path path = Utf8Path(dir);
	if (path.empty())
		return unknown(dir.empty() ? "an empty name" : "its name does not convert");
	// Relative to what SteamVR's working folder is at the time, not ours.
	if (!path.is_absolute())
		return unknown("not a full path");
	std::error_code error;
	const fs::file_status status = fs::status(path, error);
	if (fs::is_directory(status))
		return FolderState::Present;
	if (fs::exists(status))
		return FolderState::NotAFolder;
	if (status.type() != fs::file_type::not_found)
		return unknown(error == std::errc::permission_denied ? "this user cannot look into the folder above it"
		                                                     : "the system would not say whether it is there");
	if (fs::symlink_status(path, error).type() == fs::file_type::symlink)
		return unknown("a link to what is not there now");
	const fs::path above = (path.has_filename() ? path : path.parent_path()).parent_path();
	if (!fs::is_directory(fs::status(above, error)))
		return unknown("the folder above it is not there: a disk that is not mounted?");
	return FolderState::Gone;
}

DriverFolders SortDriverFolders(const RuntimeView &runtime)
{
	DriverFolders out;
	std::string setup = SetupProgramFolder();
	if (!Utf8Path(setup).is_absolute())
		setup.clear(); // a relative name would be taken from our working folder
	const auto add_copy = [&](const std::string &dir, bool registered) {
		for (const std::string &copy : out.copies)
			if (SameFolder(copy, dir))
				return;
		out.copies.push_back(dir);
		if (!registered)
			out.unregistered.push_back(dir);
		if (const char *by = InstalledBy(dir, setup)) {
			out.installs.push_back(dir);
			out.installers.push_back(by);
		}
	};
	for (const std::string &dir : runtime.external_drivers) {
		std::string why;
		switch (RegisteredFolderState(dir, &why)) {
		case FolderState::Present:
			if (IsOurDriverFolder(dir))
				add_copy(dir, true);
			break;
		case FolderState::Gone:
			(WasOurFolder(dir, setup) ? out.gone_ours : out.gone_others).push_back(dir);
			break;
		case FolderState::NotAFolder:
			out.not_folders.push_back(dir);
			break;
		case FolderState::Unknown:
			out.unchecked.emplace_back(dir, why);
			break;
		}
	}
	if (!runtime.runtime_dir.empty()) {
		std::vector<std::string> bundled;
		std::error_code error;
		for (fs::directory_iterator it(Utf8Path(JoinUtf8(runtime.runtime_dir, "drivers")), error), end;
		     !error && it != end; it.increment(error)) {
			const std::string dir = Utf8String(it->path());
			if (!dir.empty() && IsOurDriverFolder(dir))
				bundled.push_back(dir);
		}
		std::sort(bundled.begin(), bundled.end());
		for (const std::string &dir : bundled)
			add_copy(dir, false);
	}
	return out;
}

const JsonMember *SettingsFile::Find(const std::string &key) const
{
	const JsonMember *found = nullptr;
	for (const JsonMember &member : section)
		if (member.key == key)
			found = &member;
	return found;
}

std::string SettingsFile::Text(const JsonMember &member) const
{
	return bytes.substr(member.value_begin, member.value_end - member.value_begin);
}

SettingsFile OutlineSettings(std::string path, std::string bytes)
{
	SettingsFile settings;
	settings.path = std::move(path);
	settings.exists = true;
	settings.bytes = std::move(bytes);
	size_t root = 0;
	std::vector<JsonMember> members;
	bool too_deep = false;
	const std::string error = OutlineJsonObject(settings.bytes, root, members, &too_deep);
	if (too_deep) {
		settings.error = "nests deeper than " + std::to_string(kMaxJsonDepth) + " levels, which zelvan-ctl does not read";
		settings.unsure = true;
		return settings;
	}
	if (!error.empty()) {
		settings.error = "is not JSON: " + error;
		return settings;
	}
	if (settings.bytes[root] != '{') {
		settings.error = "is not a JSON object";
		return settings;
	}
	const JsonMember *section = nullptr;
	for (const JsonMember &member : members)
		if (member.object == root && member.key == kDriverSection)
			section = &member;
	if (section == nullptr || settings.bytes[section->value_begin] != '{')
		return settings;
	settings.section_open = section->value_begin;
	settings.section_end = section->value_end;
	for (const JsonMember &member : members)
		if (member.object == settings.section_open)
			settings.section.push_back(member);
	const JsonMember *blocked = settings.Find("blocked_by_safe_mode");
	settings.blocked = blocked != nullptr && settings.Text(*blocked) == "true";
	const JsonMember *enable = settings.Find("enable");
	settings.disabled = enable != nullptr && settings.Text(*enable) == "false";
	return settings;
}

SettingsFile ReadSettings(const std::string &config_dir)
{
	SettingsFile settings;
	if (config_dir.empty())
		return settings;
	settings.path = JoinUtf8(config_dir, "steamvr.vrsettings");
	if (settings.path.empty()) {
		settings.path = config_dir + kPathSeparator + "steamvr.vrsettings";
		settings.exists = true;
		settings.error = "is in a folder whose name is not UTF-8";
		settings.unsure = true;
		return settings;
	}
	std::error_code error;
	const fs::file_status status = fs::status(Utf8Path(settings.path), error);
	settings.exists = fs::exists(status);
	if (!settings.exists)
		return settings;
	std::string bytes, why;
	if (!fs::is_regular_file(status)) {
		settings.error = "is not a file";
		return settings;
	}
	if (!ReadJsonBytes(settings.path, bytes, why)) {
		settings.error = why;
		settings.unsure = true;
		return settings;
	}
	return OutlineSettings(settings.path, std::move(bytes));
}

Finding CheckSteamVrSettings(const std::string &config_dir)
{
	const char *check = "steamvr_settings";
	const SettingsFile settings = ReadSettings(config_dir);
	if (settings.path.empty())
		return Make(check, Verdict::Warn, "not checked: the registry names no config folder", "Fix the steamvr check first.");
	const std::string path = Esc(settings.path);
	if (!settings.exists)
		return Make(check, Verdict::Ok, "no " + path + " yet (SteamVR has not run)");
	if (!settings.error.empty())
		return Make(check, settings.unsure ? Verdict::Warn : Verdict::Fail,
		            (settings.unsure ? "cannot tell whether SteamVR blocks the driver: " : "") + path + " " +
		                Esc(settings.error),
		            "With SteamVR closed, look at it in a text editor" +
		                std::string(settings.unsure ? "" : " and correct it at that place") +
		                ", and remove \"blocked_by_safe_mode\" from its " + kDriverSection +
		                " section if it is there. Keep the file: it holds all of SteamVR's settings. zelvan-ctl "
		                "doctor --fix does not change a file it cannot read.");
	const std::string fix = "zelvan-ctl doctor --fix with SteamVR closed";
	const std::string where = " in " + std::string(kDriverSection) + " of " + path;
	if (settings.blocked && settings.disabled)
		return Make(check, Verdict::Fail,
		            "SteamVR blocked the driver after a crash and it is turned off in Manage Add-ons "
		            "(\"blocked_by_safe_mode\" : true and \"enable\" : false" + where + ")",
		            "Run " + fix + " (it clears both), and look at the log check for what crashed.");
	if (settings.blocked)
		return Make(check, Verdict::Fail,
		            "SteamVR blocked the driver after a crash (\"blocked_by_safe_mode\" : true" + where + ")",
		            "Run " + fix + ", and look at the log check for what crashed.");
	if (settings.disabled)
		return Make(check, Verdict::Fail, "the driver is turned off in Manage Add-ons (\"enable\" : false" + where + ")",
		            "Turn it on there, or run " + fix + ".");
	return Make(check, Verdict::Ok, path + ": the driver is neither blocked nor turned off");
}

namespace {

std::string Folders(const std::vector<std::string> &dirs, const char *one, const char *many)
{
	return (dirs.size() == 1 ? "the registered folder " : "the registered folders ") + EscapedList(dirs) +
	       (dirs.size() == 1 ? one : many);
}

// What to do about more than one copy: doctor --fix keeps the one install
// it can name and unregisters the rest; otherwise the choice is the user's.
std::string CopiesRemedy(const DriverFolders &regs)
{
	const std::string drop = std::string(kVrpathregName) + " removedriver FOLDER";
	std::vector<std::string> bundled; // in the runtime's drivers: vrpathreg cannot drop them
	bool fixable = false;
	for (const std::string &dir : regs.copies) {
		const bool kept = regs.installs.size() == 1 && dir == regs.installs.front();
		if (kept)
			continue;
		if (std::find(regs.unregistered.begin(), regs.unregistered.end(), dir) != regs.unregistered.end())
			bundled.push_back(dir);
		else
			fixable = true;
	}
	const std::string delete_bundled =
		bundled.empty() ? std::string()
		                : " Delete " + EscapedList(bundled) + " from SteamVR's drivers folder yourself: vrpathreg does not "
		                                               "manage that folder.";
	if (regs.installs.size() == 1) {
		const std::string keep = Esc(regs.installs.front()) + " (installed by " + regs.installers.front() + ")";
		if (!fixable)
			return "Keep " + keep + "." + delete_bundled;
		return "Run zelvan-ctl doctor --fix with SteamVR closed: it keeps " + keep +
		       " and unregisters the other copies." + delete_bundled;
	}
	if (regs.installs.empty())
		return std::string("Keep one: uninstall the others (") + kUninstallHow + ", or " + drop +
		       "); zelvan-ctl doctor --fix cannot tell which one to keep, as no installer names any of them as its "
		       "install." + delete_bundled;
	std::string installs;
	for (size_t i = 0; i < regs.installs.size(); ++i)
		installs += (i == 0 ? "" : ", ") + Esc(regs.installs[i]) + " by " + regs.installers[i];
	return std::string("Keep one: uninstall the others with what installed them (") + kUninstallHow +
	       "); zelvan-ctl doctor --fix does not choose between installs (" + installs + ")." + delete_bundled;
}

} // namespace

Finding ExamineRegistrations(const RuntimeView &runtime, Finding registered)
{
	const DriverFolders regs = SortDriverFolders(runtime);
	const std::string drop = std::string(kVrpathregName) + " removedriver FOLDER";
	std::string notes, remedies;
	const auto add = [&](const std::string &note, const std::string &remedy) {
		notes += (notes.empty() ? "" : "; ") + note;
		if (!remedy.empty())
			remedies += (remedies.empty() ? "" : " ") + remedy;
	};
	if (!regs.gone_ours.empty())
		add(Folders(regs.gone_ours, " does not exist (SteamVR skips it)", " do not exist (SteamVR skips them)"),
		    "Remove the folders that are gone with zelvan-ctl doctor --fix with SteamVR closed, or " + drop + ".");
	if (!regs.gone_others.empty()) {
		const bool one = regs.gone_others.size() == 1;
		add(Folders(regs.gone_others, " does not exist (SteamVR skips it)", " do not exist (SteamVR skips them)"),
		    "Nothing shows that " + EscapedList(regs.gone_others) + (one ? " was" : " were") +
		        " this driver's, so zelvan-ctl doctor --fix leaves " + (one ? "it" : "them") +
		        " registered: if that driver is gone for good, its uninstaller or " + drop + " removes it.");
	}
	if (!regs.not_folders.empty())
		add(Folders(regs.not_folders, " is not a folder (SteamVR skips it)", " are not folders (SteamVR skips them)"),
		    "zelvan-ctl doctor --fix leaves what is not a folder registered; remove it with " + drop + ".");
	for (const auto &[dir, why] : regs.unchecked)
		add("the registered folder " + Esc(dir) + " cannot be checked (" + why + ")",
		    &dir == &regs.unchecked.front().first
		        ? "zelvan-ctl doctor --fix leaves what cannot be checked registered, as it may be there out of sight; "
		          "if it is gone for good, remove it with " + drop + "."
		        : "");
	if (regs.copies.size() > 1)
		return Make("registered", Verdict::Fail,
		            std::to_string(regs.copies.size()) + " copies of the driver: " + EscapedList(regs.copies) +
		                (notes.empty() ? "" : "; " + notes),
		            CopiesRemedy(regs) + (remedies.empty() ? "" : " " + remedies));
	if (notes.empty())
		return registered;
	if (registered.verdict == Verdict::Fail)
		return Make("registered", Verdict::Fail, registered.found + "; " + notes, registered.remedy + " " + remedies);
	return Make("registered", Verdict::Warn, registered.found + "; " + notes, remedies);
}

Finding ForeignChannelHolder(const std::string &channel, long uid)
{
	return Make("running", Verdict::Fail,
	            "a program of uid " + std::to_string(uid) + " holds the driver's channel name " + Esc(channel),
	            "Stop that program: the driver takes the channel within 5 s once it is free. Find it with "
	            "ss -xlp | grep zelvan_proximity_ctl (as root to see other users' programs).");
}

} // namespace zelvan::ctl
