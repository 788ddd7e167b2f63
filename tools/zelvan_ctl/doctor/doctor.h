// zelvan-ctl doctor: checks, in order, everything between an installed driver
// folder and presence that works, and says what to do about what is not.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zelvan::ctl {

enum class Verdict { Ok, Warn, Fail };

// One printed line: which check, what it found and, when not ok, the remedy.
struct Finding {
	std::string check;
	Verdict verdict = Verdict::Ok;
	std::string found;
	std::string remedy;
};

// Runs every check, prints one line each and a summary (or, with `json`, one
// JSON array) to standard output. Returns 0 when nothing failed, 1 otherwise.
// With `fix`, first makes the safe mends (doctor_steamvr.h; `dry_run`: only
// says what it would do), printed before the checks (to stderr with `json`).
int RunDoctor(const std::string &channel, std::chrono::milliseconds timeout, bool json, bool fix = false,
              bool dry_run = false);

// A JSON file of the runtime's, or null when it is missing or not JSON.
nlohmann::json ReadJsonFile(const std::string &path);

// The strings of one of the path registry's arrays, in order.
std::vector<std::string> RegistryList(const nlohmann::json &registry, const char *key);

// --- The report (doctor_report.cpp) ---

// Text from files and paths for a terminal: control bytes, and bytes that
// are not UTF-8 (a path in Latin-1, where 0x9B is a terminal's CSI), as \xNN.
std::string EscapeForTerminal(const std::string &text);

// The findings to standard output: one line each and a summary or, with
// `json`, one JSON array. Every text is escaped on the way out.
void Print(const std::vector<Finding> &findings, bool json);

// --- The platform's part (doctor_posix.cpp, doctor_windows.cpp) ---

// The driver library inside the driver folder, relative to it.
std::string DriverLibraryInFolder();

// The library's own files and dependencies, beside `library` (which exists):
// the bundled hidapi and what the loader would not find.
Finding CheckLibraryDependencies(const std::string &library);

// The sensor as the system sees it; `status` is the driver's status line as
// JSON, or null when the driver did not answer.
Finding CheckSensor(const nlohmann::json &status);

// The one-sentence remedy for an unregistered or incomplete driver folder.
std::string InstallRemedy();

} // namespace zelvan::ctl
