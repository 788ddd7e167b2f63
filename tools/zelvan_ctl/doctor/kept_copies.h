// The copies of the headset's configuration that the driver kept before its
// uploads: listed for the doctor, and put back on the headset on request.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zelvan::ctl {

struct KeptCopy {
	std::string name;   // the file's name
	std::string path;   // its full path
	std::string serial; // the headset's, from the name
	bool original = false;
};

struct KeptCopies {
	std::string folder; // where they are kept; empty when it cannot be found
	std::string note;   // why the folder could not be read (none made yet, a link...)
	std::vector<KeptCopy> copies;
};

// The kept copies, sorted by name. Makes no folder.
KeptCopies ListKeptCopies();

// What restoring a copy would change, found with SteamVR closed.
struct RestorePlan {
	std::string error; // why the copy cannot be restored; empty when it can
	std::string serial;
	std::string tool;
	std::string copy_path;
	std::string copy;    // the copy's bytes
	std::string current; // the headset's configuration now
	// The lines the upload would change: "- " the headset's now, "+ " the copy's.
	std::vector<std::string> differences;
};

// FILE is a path, or a name in the kept folder. Refuses while SteamVR's
// server runs or the driver answers on `channel`; downloads the headset's
// configuration through the console tool to compare.
RestorePlan PrepareRestore(const std::string &file, const std::string &channel, std::chrono::milliseconds timeout);

struct RestoreResult {
	bool ok = false;
	std::string message;
};

// Uploads the plan's copy, then downloads the configuration again: it is
// restored only when the headset now holds the copy's bytes.
RestoreResult Restore(const RestorePlan &plan);

// The lines that differ between two texts, in order ("- " before, "+ " after).
std::vector<std::string> LineDifferences(const std::string &before, const std::string &after);

} // namespace zelvan::ctl
