// zelvan-ctl report: one plain-text file with what a maintainer asks for in a
// bug report (versions, the doctor's findings, the driver's status, settings,
// registry entries and log lines), with the user's home and name taken out.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace zelvan::ctl {

// The whole report's text, each section under an "== name ==" line. Works
// with SteamVR closed and no driver running; what it cannot read, it says.
std::string BugReport(const std::string &channel, std::chrono::milliseconds timeout);

// Today's report file in `folder` (empty: the current folder),
// zelvan-report-YYYY-MM-DD.txt or the first of -2, -3, ... that is free;
// made in the same step as it is chosen, never over a file. nullptr with
// errno set when there is none; `path` names the last one tried.
std::FILE *CreateReportFile(const std::filesystem::path &folder, std::filesystem::path &path);

// The home folder (as written, with `\` doubled as JSON writes it, and with
// `/` for `\`) becomes `~`, then `user` as a whole word (between bytes that
// are not ASCII letters or digits) becomes `<user>`. `fold_case`: case does
// not count, as in Windows names (ASCII, Latin, Greek and Cyrillic letters).
// A name shorter than 2 bytes, or a home of one byte or a drive's root, is
// left: it would eat unrelated text.
std::string RemoveHomeAndUser(const std::string &text, const std::string &home, const std::string &user, bool fold_case);

// The last lines of a log that name the driver, read backwards from the end
// so that a huge log costs at most `max_scan` bytes.
struct LogTail {
	std::string error;              // why there are no lines: missing, not a file
	std::vector<std::string> lines; // oldest first, control bytes escaped
	uint64_t size = 0;              // the file's size
	uint64_t scanned = 0;           // how much of its end was read
	size_t nul_lines = 0;           // lines left out for holding NUL bytes
	size_t long_lines = 0;          // lines left out for being longer than a log line can be
};
LogTail ReadDriverLogLines(const std::string &path, size_t max_lines, uint64_t max_scan);

// --- The platform's part (bug_report_posix.cpp, bug_report_windows.cpp) ---

// The system's name and version, without the machine's name.
std::string SystemVersion();

// Who runs zelvan-ctl: the login name and the home folder, empty when unknown.
struct UserIdentity {
	std::string name;
	std::string home;
	bool fold_case = false; // the system's names ignore case
};
UserIdentity CurrentUser();

// Today's date in local time, YYYY-MM-DD.
std::string LocalDate();

} // namespace zelvan::ctl
