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

// Runs every check, in order, asking the driver on `channel` for its status.
std::vector<Finding> Examine(const std::string &channel, std::chrono::milliseconds timeout);

// A JSON file of the runtime's, or null when it is missing or not JSON.
nlohmann::json ReadJsonFile(const std::string &path);

// The strings of one of the path registry's arrays, in order.
std::vector<std::string> RegistryList(const nlohmann::json &registry, const char *key);

// --- The report (doctor_report.cpp) ---

// Text from files and paths for a terminal: control bytes, and bytes that
// are not UTF-8 (a path in Latin-1, where 0x9B is a terminal's CSI), as \xNN.
std::string EscapeForTerminal(const std::string &text);

// The findings as one JSON array of {check, status, found[, remedy]}, or as
// one line each and a summary line. Every text is escaped on the way out.
nlohmann::json FindingsJson(const std::vector<Finding> &findings);
std::string FindingsText(const std::vector<Finding> &findings);

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
