// zelvan-ctl doctor: SteamVR's own reasons for not loading the driver (its
// settings file and its path registry), and the mends `doctor --fix` makes.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/json_edit.h"

namespace zelvan::ctl {

// What the doctor learnt of the runtime's files (doctor.cpp).
struct RuntimeView {
	std::string registry_path;                 // empty when not found
	std::vector<std::string> external_drivers; // as registered, in order
	std::string runtime_dir;                   // empty when none exists
	std::string config_dir;                    // empty when not named
	bool registry_read = false;                // false: missing or not a JSON object
};

// The runtime as the steamvr check finds it.
RuntimeView LookUpRuntime();

// A folder with a driver.vrdrivermanifest named ZelvanProximity.
bool IsOurDriverFolder(const std::string &dir);

// --- Checks (doctor_steamvr.cpp) ---

// A registered folder as the system sees it. Gone only when it certainly
// is: a full name, nothing under it, and the folder above it there and open
// to this user. What cannot be seen now (a disk that is not mounted, a
// locked folder above it, a relative name, a link to nowhere, a name that
// does not convert) is Unknown, and `why` says which.
enum class FolderState { Present, Gone, NotAFolder, Unknown };
FolderState RegisteredFolderState(const std::string &dir, std::string *why = nullptr);

// Two spellings of one folder (a trailing separator, a symlink) are one copy.
bool SameFolder(const std::string &a, const std::string &b);

// SteamVR's registered folders and every copy of the driver it would find,
// sorted out for the registered check and for doctor --fix alike.
struct DriverFolders {
	std::vector<std::string> copies;       // each copy once: registered ones first, then the runtime's drivers
	std::vector<std::string> unregistered; // those of `copies` in the runtime's drivers folder
	std::vector<std::string> installs;     // those of `copies` an installer made and still names
	std::vector<std::string> installers;   // for each of `installs`: who made it
	std::vector<std::string> gone_ours;    // certainly gone, and certainly the driver's
	std::vector<std::string> gone_others;  // certainly gone, and nothing shows whose
	std::vector<std::string> not_folders;
	std::vector<std::pair<std::string, std::string>> unchecked; // folder, why
};
DriverFolders SortDriverFolders(const RuntimeView &runtime);

// steamvr.vrsettings as read for the check and the mend. The last section
// or setting of a name counts, as in SteamVR's reader.
struct SettingsFile {
	std::string path;      // empty when the registry names no config folder
	bool exists = false;
	std::string bytes;     // the file as it is
	std::string error;     // why it cannot be read or used
	bool unsure = false;   // `error` is only that zelvan-ctl does not read it (too large or too deep)
	bool blocked = false;  // the driver's section has "blocked_by_safe_mode" : true
	bool disabled = false; // the driver's section has "enable" : false
	// The driver's section, when it is an object: its braces and members.
	size_t section_open = std::string::npos, section_end = 0;
	std::vector<JsonMember> section;

	// The driver's setting `key`, or null when it has none.
	const JsonMember *Find(const std::string &key) const;
	// A setting's value as written.
	std::string Text(const JsonMember &member) const;
};

// steamvr.vrsettings in `config_dir`.
SettingsFile ReadSettings(const std::string &config_dir);

// `bytes` as the settings file at `path` (which exists); the mend reads its
// own result again with it.
SettingsFile OutlineSettings(std::string path, std::string bytes);

// The driver's section in SteamVR's settings.
extern const char *const kDriverSection;

// steamvr.vrsettings in the config folder: parses, and the driver's section
// is neither blocked by safe mode nor turned off.
Finding CheckSteamVrSettings(const std::string &config_dir);

// Adds to the registered check what it does not see on its own: every copy
// of the driver SteamVR would find, and registered folders that are gone.
Finding ExamineRegistrations(const RuntimeView &runtime, Finding registered);

// The running check when another user's program holds the channel's name.
Finding ForeignChannelHolder(const std::string &channel, long uid);

// --- Mends (doctor_fix.cpp) ---

// One line of what a mend did, would do, saw and left, or a note on the
// whole. Texts are escaped for the terminal already.
struct MendLine {
	enum class Kind { Done, Failed, Left, Note };
	Kind kind = Kind::Note;
	std::string text;
};

struct MendReport {
	std::vector<MendLine> lines;
	bool refused = false; // SteamVR's server runs, so nothing was changed
	bool failed = false;  // a mend failed, or was refused
};

// Each line as it is made, so that a run cut short still showed what it
// changed; the report holds them all as well.
using MendSink = std::function<void(const MendLine &line)>;

// `doctor --fix [--dry-run]`: unblocks and enables the driver in SteamVR's
// settings and drops registrations that are gone or other copies; with
// `dry_run`, only says what it would do.
MendReport Mend(const RuntimeView &runtime, bool dry_run, const MendSink &as_made = {});

// For the install scripts: the settings mend alone. No lines when there is
// nothing to mend; failed when SteamVR's server runs and there is something
// to mend, when the settings cannot be read, or the mend failed.
MendReport Unblock(const MendSink &as_made = {});

// Names for a message, each escaped for the terminal, with ", " between.
std::string EscapedList(const std::vector<std::string> &items);

// --- The platform's part (doctor_fix_posix.cpp, doctor_fix_windows.cpp) ---

// A vrserver process of this user (Linux) or any vrserver.exe (Windows).
bool IsVrServerRunning();

// The runtime's vrpathreg, or empty when it has none.
std::string VrpathregPath(const std::string &runtime_dir);

// Runs `program` with `args` and waits for it; false when it could not be
// started or exited with another status than 0. `output`: what it printed.
bool RunTool(const std::string &program, const std::vector<std::string> &args, std::string &output);

// POSIX: runs argv and waits for it, stdout and stderr into `output`, the
// wait status into `status`; false when it could not be started.
bool RunCollectingOutput(const std::vector<std::string> &argv, std::string &output, int &status);

// The folder the setup program installed the driver in (Windows: its
// Add/Remove Programs entry's InstallLocation), or empty when there is none.
std::string SetupProgramFolder();

// Keeps `old_bytes` as `backup` (a new file: an existing one is never
// replaced), then replaces `path` by `bytes` through a temporary file beside
// it, flushed to disk. Both take the file's group, mode and extended
// attributes with its access list (Linux) or its access list (Windows). A
// file of another user, one whose attributes cannot be carried over, or one
// that no longer holds `old_bytes` (checked again just before the replace)
// is left alone, and so is no backup of it.
bool ReplaceKeepingBackup(const std::string &path, const std::string &old_bytes, const std::string &bytes,
                          const std::string &backup, std::string &error);

// Where another writer (SteamVR saving) may come between a mend's check and
// its replace; a test writes the file there (ZELVAN_TEST_SAVE_DURING_MEND
// holds the bytes), nothing else does.
void SaveDuringMendForTest(const std::string &path);

// The platform's words: install script, vrpathreg's name, where it is in a
// runtime folder and in a default Steam installation.
extern const char *const kInstallScript;
extern const char *const kVrpathregName;
extern const char *const kVrpathregInRuntime;
extern const char *const kVrpathregHint;
// How each installer's copy is uninstalled, for a message.
extern const char *const kUninstallHow;

} // namespace zelvan::ctl
