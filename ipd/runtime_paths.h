// Where the runtime keeps its files on this platform, and the file-system
// calls the IPD code needs: the path registry and file tests.
#pragma once

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

// %LOCALAPPDATA%\openvr\openvrpaths.vrpath on Windows (a value that does not
// fit 260 bytes counts as missing); $XDG_CONFIG_HOME/openvr/openvrpaths.vrpath
// or $HOME/.config/openvr/openvrpaths.vrpath on POSIX.
RegistryLocation FindPathRegistry();

// The whole content of a file read in text mode; false when it cannot be opened.
bool ReadTextFile(const std::string &path, std::string &content);
// The same, byte for byte: for files that are written back after an edit.
bool ReadBinaryFile(const std::string &path, std::string &content);

bool FileExists(const std::string &path);

} // namespace zelvan
