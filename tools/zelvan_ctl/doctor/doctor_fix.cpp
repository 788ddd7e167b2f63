// doctor --fix: the few mends that are safe to make for the user, each
// reported as it is made. Only while SteamVR's server is closed: it
// rewrites its settings file and registry when it exits.
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

namespace fs = std::filesystem;

struct Printer {
	MendReport &report;
	const MendSink &as_made;
	bool dry_run;
	int mends = 0;
	int left = 0; // what it saw and would not or could not mend

	void Add(MendLine::Kind kind, const std::string &what)
	{
		report.lines.push_back({kind, what});
		if (as_made)
			as_made(report.lines.back());
	}
	void Done(const std::string &what)
	{
		++mends;
		Add(MendLine::Kind::Done, what);
	}
	void Failed(const std::string &what)
	{
		report.failed = true;
		Add(MendLine::Kind::Failed, what);
	}
	void Left(const std::string &what)
	{
		++left;
		Add(MendLine::Kind::Left, what);
	}
	void Note(const std::string &what) { Add(MendLine::Kind::Note, what); }
};

std::string Esc(const std::string &text)
{
	return EscapeForTerminal(text);
}

// The file with the block removed and, with `enable`, "enable" : true in
// the driver's section; every other byte stays as it was, so comments,
// order and numbers as written (which a parse and a rewrite would change)
// are kept.
std::string MendedText(const SettingsFile &settings, bool enable)
{
	std::string text = settings.bytes;
	if (settings.blocked) {
		std::vector<bool> drop;
		for (const JsonMember &member : settings.section)
			drop.push_back(member.key == "blocked_by_safe_mode");
		text = WithoutMembers(text, settings.section_open, settings.section_end, settings.section, drop);
	}
	if (!enable)
		return text;
	const SettingsFile unblocked = OutlineSettings(settings.path, text);
	for (size_t m = unblocked.section.size(); m-- > 0;) {
		const JsonMember &member = unblocked.section[m];
		if (member.key == "enable" && unblocked.Text(member) == "false")
			text.replace(member.value_begin, member.value_end - member.value_begin, "true");
	}
	return text;
}

// The first backup keeps the name it always had; later ones are numbered,
// so that the file as it was before any mend is never overwritten.
std::string FreeBackupName(const std::string &path)
{
	const std::string first = path + ".zelvan-backup";
	for (int n = 1; n < 10000; ++n) {
		const std::string name = n == 1 ? first : first + "." + std::to_string(n);
		std::error_code error;
		const fs::file_type type = fs::symlink_status(Utf8Path(name), error).type();
		if (type == fs::file_type::not_found)
			return name;
		if (type == fs::file_type::none)
			return {}; // cannot tell
	}
	return {};
}

// Removes the safe-mode block and, with `enable_too`, turns the driver back
// on.
void MendSettings(const SettingsFile &settings, bool enable_too, Printer &print)
{
	if (!settings.exists)
		return;
	if (!settings.error.empty()) {
		print.Failed("not touching " + Esc(settings.path) + ": it " + Esc(settings.error));
		return;
	}
	const bool enable = enable_too && settings.disabled;
	if (!settings.blocked && !enable)
		return;
	std::string what;
	if (settings.blocked)
		what = std::string(print.dry_run ? "remove" : "removed") + " \"blocked_by_safe_mode\" : true";
	if (enable)
		what += std::string(what.empty() ? "set" : " and set") + " \"enable\" to true";
	what += " in " + std::string(kDriverSection) + " of " + Esc(settings.path);
	if (print.dry_run) {
		print.Done(what);
		return;
	}
	const std::string after = MendedText(settings, enable);
	// What the mend wrote must read back as mended, or it is not written.
	const SettingsFile check = OutlineSettings(settings.path, after);
	if (!check.error.empty() || check.blocked || (enable && check.disabled)) {
		print.Failed("not touching " + Esc(settings.path) + ": the mended text would not read back as mended");
		return;
	}
	const std::string backup = FreeBackupName(settings.path);
	if (backup.empty()) {
		print.Failed("not touching " + Esc(settings.path) + ": no free name for a backup beside it");
		return;
	}
	// A settings file that is a link (to a synced folder, say) stays one: the
	// file it names is replaced.
	std::error_code link_error;
	std::string real = settings.path;
	if (fs::is_symlink(Utf8Path(settings.path), link_error)) {
		real = Utf8String(fs::canonical(Utf8Path(settings.path), link_error));
		if (real.empty() && !link_error)
			link_error = std::make_error_code(std::errc::illegal_byte_sequence);
	}
	if (link_error) {
		print.Failed("not touching " + Esc(settings.path) + ": " + Esc(link_error.message()));
		return;
	}
	std::string error;
	if (!ReplaceKeepingBackup(real, settings.bytes, after, backup, error)) {
		print.Failed("not touching " + Esc(settings.path) + ": " + Esc(error) + " (nothing was written to it)");
		return;
	}
	print.Done(what + " (the old file is kept as " + Esc(backup) + ")");
}

// The other copies when one of them is the install it can name; otherwise
// it says why it does not choose.
void DropOtherCopies(const RuntimeView &runtime, const DriverFolders &regs, Printer &print,
                     std::vector<std::pair<std::string, std::string>> &drop)
{
	if (regs.copies.size() < 2)
		return;
	const std::string how = std::string(" (") + kUninstallHow + ", or " + kVrpathregName + " removedriver FOLDER)";
	if (regs.installs.empty()) {
		print.Left("cannot choose which copy of the driver to keep: no installer names any of " + EscapedList(regs.copies) +
		           " as its install; uninstall the ones you do not want" + how);
		return;
	}
	if (regs.installs.size() > 1) {
		std::string installs;
		for (size_t i = 0; i < regs.installs.size(); ++i)
			installs += (i == 0 ? "" : ", ") + Esc(regs.installs[i]) + " by " + regs.installers[i];
		print.Left("cannot choose which copy of the driver to keep: each of " + installs +
		           " is an install; uninstall the ones you do not want with what installed them" + how);
		return;
	}
	const std::string &keep = regs.installs.front();
	const std::string why = "another copy of the driver; the one " + std::string(regs.installers.front()) +
	                        " installed is " + Esc(keep);
	for (const std::string &dir : runtime.external_drivers)
		if (RegisteredFolderState(dir) == FolderState::Present && IsOurDriverFolder(dir) && !SameFolder(dir, keep))
			drop.emplace_back(dir, why);
	for (const std::string &dir : regs.unregistered)
		if (!SameFolder(dir, keep))
			print.Left("leaving " + Esc(dir) + ": it is in SteamVR's drivers folder, which vrpathreg does not manage; "
			           "delete it yourself to keep only " + Esc(keep));
}

// Registered folders that are certainly the driver's and certainly gone
// and, when one copy is the install it can name, the other registered
// copies; through vrpathreg, which owns the registry. What cannot be checked
// stays, as it may be there out of sight, and so does what is not ours.
void MendRegistrations(const RuntimeView &runtime, Printer &print)
{
	const DriverFolders regs = SortDriverFolders(runtime);
	std::vector<std::pair<std::string, std::string>> drop; // folder, why
	for (const std::string &dir : regs.gone_ours)
		drop.emplace_back(dir, "it does not exist");
	for (const std::string &dir : regs.gone_others)
		print.Left("leaving " + Esc(dir) + " registered: it does not exist, but nothing shows it was this driver's, so "
		           "it is not ours to remove (if that driver is gone for good, its uninstaller or " + kVrpathregName +
		           " removedriver FOLDER removes it)");
	for (const std::string &dir : regs.not_folders)
		print.Left("leaving " + Esc(dir) + " registered: it is not a folder");
	for (const auto &[dir, reason] : regs.unchecked)
		print.Left("leaving " + Esc(dir) + " registered: it cannot be checked (" + reason + ")");
	DropOtherCopies(runtime, regs, print, drop);
	std::vector<std::string> done;
	const std::string vrpathreg = VrpathregPath(runtime.runtime_dir);
	for (const auto &[dir, why] : drop) {
		if (std::find(done.begin(), done.end(), dir) != done.end())
			continue;
		done.push_back(dir);
		const std::string command = Esc(vrpathreg.empty() ? std::string(kVrpathregName) : vrpathreg) +
		                            " removedriver " + Esc(dir);
		if (vrpathreg.empty()) {
			print.Failed("cannot run " + command + " (" + why + "): the runtime folder has no " + kVrpathregName);
			continue;
		}
		if (print.dry_run) {
			print.Done("run " + command + " (" + why + ")");
			continue;
		}
		std::string output;
		if (!RunTool(vrpathreg, {"removedriver", dir}, output)) {
			print.Failed(command + " failed: " + Esc(output.substr(0, output.find('\n'))));
			continue;
		}
		// Done only when the registry no longer names it: a vrpathreg that
		// took another spelling, or wrote another file, changed nothing here.
		const std::vector<std::string> now = LookUpRuntime().external_drivers;
		if (std::find(now.begin(), now.end(), dir) != now.end())
			print.Failed("ran " + command + " (" + why + "), but " + Esc(runtime.registry_path) +
			             " still names it (" + kVrpathregName + " did not remove it): take it out of that file by hand, "
			             "with SteamVR closed");
		else
			print.Done("ran " + command + " (" + why + ")");
	}
}

} // namespace

void SaveDuringMendForTest(const std::string &path)
{
	if (const char *bytes = std::getenv("ZELVAN_TEST_SAVE_DURING_MEND"))
		std::ofstream(Utf8Path(path), std::ios::binary | std::ios::trunc) << bytes;
}

MendReport Mend(const RuntimeView &runtime, bool dry_run, const MendSink &as_made)
{
	MendReport report;
	Printer print{report, as_made, dry_run};
	if (IsVrServerRunning()) {
		report.refused = report.failed = true;
		print.Note("SteamVR's server (vrserver) is running, so nothing was changed; close SteamVR, then run "
		           "zelvan-ctl doctor --fix again");
		return report;
	}
	MendSettings(ReadSettings(runtime.config_dir), true, print);
	MendRegistrations(runtime, print);
	// Without the registry there was nothing to look at: not the same as
	// nothing to mend.
	if (print.mends == 0 && print.left == 0 && !report.failed)
		print.Note(runtime.registry_read
		               ? "nothing to mend"
		               : "nothing mended: SteamVR's path registry was not read, so neither the registered folders "
		                 "nor SteamVR's settings were looked at (the steamvr check says why)");
	return report;
}

MendReport Unblock(const MendSink &as_made)
{
	MendReport report;
	Printer print{report, as_made, false};
	const SettingsFile settings = ReadSettings(LookUpRuntime().config_dir);
	if (!settings.exists || (settings.error.empty() && !settings.blocked))
		return report;
	if (!settings.error.empty()) {
		report.failed = true;
		print.Note("cannot tell whether SteamVR blocks the driver: " + Esc(settings.path) + " " + Esc(settings.error) +
		           "; with SteamVR closed, " + (settings.unsure ? "" : "correct what the error names and ") +
		           "remove \"blocked_by_safe_mode\" from its " + kDriverSection +
		           " section in a text editor if it is there");
		return report;
	}
	if (IsVrServerRunning()) {
		report.refused = report.failed = true;
		print.Note("SteamVR is running, so the driver stays blocked (\"blocked_by_safe_mode\" in " + Esc(settings.path) +
		           "); close SteamVR and run zelvan-ctl doctor --fix");
		return report;
	}
	MendSettings(settings, false, print);
	return report;
}

} // namespace zelvan::ctl
