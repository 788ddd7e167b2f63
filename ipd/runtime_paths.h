// Where the runtime keeps its files on this platform, and the file-system
// calls the IPD code needs: the path registry and file tests.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "ipd/json_scan.h"

namespace zelvan {

extern const PathStyle kNativePathStyle;
extern const char kPathSeparator;

struct RegistryLocation {
	bool found = false;
	std::string path;        // the registry file, when found
	std::string missing_var; // the environment variable that was missing
};

// %LOCALAPPDATA%\openvr\openvrpaths.vrpath on Windows (a value of 260
// characters or more counts as missing); $XDG_CONFIG_HOME/openvr/openvrpaths.vrpath
// or $HOME/.config/openvr/openvrpaths.vrpath on POSIX.
RegistryLocation FindPathRegistry();

// The largest runtime file the driver reads. The runtime's files are
// kilobytes, and they are read inside a frame: a megabyte already costs a
// millisecond or two of the frame's 11.
inline constexpr size_t kMaxRuntimeFileBytes = size_t{1} << 20;

// The whole content of a file read in text mode; false when it cannot be
// opened, is not a regular file or is larger than kMaxRuntimeFileBytes.
bool ReadTextFile(const std::string &path, std::string &content);

// Opens a regular file for reading (text mode or binary) without waiting on
// it: a FIFO, pipe, device or directory gives nullptr, as a missing file
// does, because reading one could hold the runtime's frame for as long as
// it has no writer. Used by ReadTextFile.
std::FILE *OpenRegularFile(const std::string &path, bool text);

bool FileExists(const std::string &path);

// Where the headset's lighthouse calibration lives:
// <config>/lighthouse/<lower-case serial>/config.json, with `config` the
// registry's "config" folder. The driver loads it from there; zelvan-ctl
// doctor looks for it there.
std::string CalibrationPath(const std::string &config_dir, const std::string &serial);

} // namespace zelvan
