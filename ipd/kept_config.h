// Copies of the headset's stored configuration, kept as it was downloaded
// before an upload changed it: the factory calibration cannot be had back
// any other way once a wrong upload went through.
#pragma once

#include <string>
#include <vector>

#include "ipd/temp_folder.h"

namespace zelvan {

// The serial as a part of a file name on both platforms: letters, digits,
// '-' and '_' as they are, anything else '_', at most 64 characters, and a
// '_' before a name Windows keeps for a device (CON, NUL, COM1...).
std::string KeptNamePart(const std::string &serial);

// The serial a kept copy's name stands for (its part up to the first '.'),
// the inverse of KeptNamePart for every serial made only of what it keeps.
std::string SerialOfKeptName(const std::string &name);

// <part>.original.<YYYY-MM-DD>.json: kept once per headset, never replaced.
std::string OriginalName(const std::string &serial, const std::string &date);
// <part>.last-download.json: the download before the latest upload.
std::string LastDownloadName(const std::string &serial);
bool IsOriginalName(const std::string &name);

// The local date, YYYY-MM-DD.
std::string TodayText();

// The driver's own folder for the copies: on Windows
// %LOCALAPPDATA%\ZelvanProximity\kept-config; on POSIX
// $XDG_DATA_HOME/zelvan-proximity/kept-config, with ~/.local/share when
// XDG_DATA_HOME is unset or not absolute (a folder the Steam Linux Runtime's
// container shares with the host, unlike /tmp or XDG_RUNTIME_DIR).
class KeptFolder {
public:
	KeptFolder() = default;
	~KeptFolder();
	KeptFolder(const KeptFolder &) = delete;
	KeptFolder &operator=(const KeptFolder &) = delete;

	// Creates what is missing when `create`, owner-only; refuses a folder of
	// ours that is a link or belongs to someone else. False with the reason
	// in Note().
	bool Open(bool create);
	const std::string &Note() const { return note_; }
	// Ends in the separator.
	const std::string &Path() const { return path_; }

	// The names of the regular files in it, sorted; false when it cannot be read.
	bool Names(std::vector<std::string> &names) const;
	TempRead Read(const std::string &name, std::string &content) const;
	// A new file, never over an existing name (a link included).
	TempWrite CreateNew(const std::string &name, const std::string &bytes) const;
	// Replaces the file whole, or leaves the one before in place.
	bool Replace(const std::string &name, const std::string &bytes) const;

private:
	std::string path_;
	std::string note_;
	int fd_ = -1; // POSIX: the folder, held open
};

// Before an upload: keeps `downloaded` as the serial's original unless one is
// kept already, and as its last download. Logs each file kept; false (logged)
// when a copy could not be kept, and then nothing may be uploaded.
bool KeepBeforeUpload(const std::string &serial, const std::string &downloaded);

} // namespace zelvan
