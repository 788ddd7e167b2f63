// Runtime paths and files on Windows.
#include "ipd/runtime_paths.h"


#include <windows.h>

namespace zelvan {

const PathStyle kNativePathStyle = PathStyle::Windows;
const char kPathSeparator = '\\';

RegistryLocation FindPathRegistry()
{
	RegistryLocation location;
	char buffer[260] = {};
	const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", buffer, sizeof(buffer));
	// A value that does not fit is as good as none: it cannot be used whole.
	if (length == 0 || length > 259) {
		location.missing_var = "LOCALAPPDATA";
		return location;
	}
	location.path = std::string(buffer) + "\\openvr\\openvrpaths.vrpath";
	location.found = true;
	return location;
}

bool FileExists(const std::string &path)
{
	const DWORD attributes = GetFileAttributesA(path.c_str());
	return attributes != INVALID_FILE_ATTRIBUTES;
}

} // namespace zelvan
