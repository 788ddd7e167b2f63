// The headsets the stand-in knows: one stored configuration per serial, kept
// as raw text in <folder>/<serial>.json.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelvan::console_standin {

// A serial that can name a file on both platforms: printable ASCII without
// path separators, wildcards or quotes, not starting with a dot.
bool IsValidSerial(std::string_view serial);

// Whole files, in binary mode: the bytes are never translated.
std::optional<std::string> ReadWholeFile(const std::string &path);
bool WriteWholeFile(const std::string &path, std::string_view bytes);

class ConfigStore {
public:
	explicit ConfigStore(std::string folder);

	const std::string &folder() const { return folder_; }
	std::string PathFor(const std::string &serial) const;

	// The serial's file exists with exactly this spelling, on both platforms:
	// a driver that changes the serial's letter case must not pass on Windows
	// only.
	bool Has(const std::string &serial) const;
	std::optional<std::string> Load(const std::string &serial) const;
	bool Save(const std::string &serial, std::string_view text) const;

private:
	std::string folder_;
};

} // namespace zelvan::console_standin
