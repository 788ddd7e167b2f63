// The ways the console stand-in can misbehave, chosen by ZELVAN_LH_FAULT.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvan::console_standin {

enum class FaultMode {
	None,
	Hang,         // prints nothing, reads nothing, never ends
	IgnoreExit,   // works, but neither exit, quit nor end of input ends it
	Silent,       // works without printing a byte
	Flood,        // several hundred KB after every command
	Crash,        // aborts on its first command
	NoFile,       // downloadconfig reports success and writes nothing
	NoDefaultMm,  // downloaded config lacks the "default_mm" entry
	BadDefaultMm, // downloaded config has "default_mm" as a string
	Slow,         // waits about 2 s before each reply
	Late,         // answers and leaves just inside the driver's 10 s bounds
	Cut,          // writes part of a download, then dies
	Orphan,       // leaves a child behind that outlives it, and ignores exit
	SwapFolder,   // replaces the download's folder by a symlink
	SwapFolderDir, // replaces the download's folder by another folder
	LeaveEarly,   // reads one line, closes its input, says so and ends
};

struct Fault {
	FaultMode mode = FaultMode::None;
	size_t cut_bytes = 0; // Cut: how much of the download is written
};

// Empty text means no fault; an unknown name gives nothing. "cut:N" takes
// the number of bytes.
std::optional<Fault> ParseFault(std::string_view text);

// The accepted names with one line each, for --help and the error message.
std::string FaultModeList();

} // namespace zelvan::console_standin
