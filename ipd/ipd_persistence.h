// Writing an IPD changed during the run into the configuration stored on
// the headset, at Cleanup, through the runtime's console tool.
#pragma once

#include <chrono>
#include <string>

#include "ipd/console_runner.h"

namespace zelvan {

class IpdControls;

enum class DefaultMmEdit {
	Edited,
	KeyMissing, // no "default_mm" in quotes
	NoColon,
	NoNumber, // nothing numeric after the colon, or a number written in a form we do not rewrite
};

// Replaces the number after the "default_mm" key with new_value, leaving
// every other byte as it was. A value with an exponent or a sign other than
// a leading '-' is refused rather than half replaced.
DefaultMmEdit EditDefaultMm(const std::string &text, const std::string &new_value, std::string &edited);

// The console tool's path, through the runtime's path registry; empty (with
// the reason logged) when it cannot be found.
std::string FindLighthouseConsole();

// Whether the upload may begin after this download: not when the deadline
// ended the download or has come since. A tool killed only for being slow
// to exit, with its file written whole, still gets the upload.
bool TimeLeftToUpload(const ConsoleRun &download, ConsoleClock::time_point now, ConsoleClock::time_point deadline);

// How long persistence may hold the runtime's shutdown, both runs of the
// tool together.
constexpr std::chrono::milliseconds kPersistBudget{15000};

// Cleanup's first step. Both runs of the tool share the budget.
void PersistIpdToHeadset(const IpdControls &ipd, std::chrono::milliseconds budget = kPersistBudget);

} // namespace zelvan
