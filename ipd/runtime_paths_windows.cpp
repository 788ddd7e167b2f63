// Runtime paths and files on Windows, through the wide calls: a profile or
// Steam library folder may be named in any script.
#include "ipd/runtime_paths.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "core/wide_text.h"

namespace zelvan {

const PathStyle kNativePathStyle = PathStyle::Windows;
const char kPathSeparator = '\\';

RegistryLocation FindPathRegistry()
{
	RegistryLocation location;
	wchar_t buffer[260] = {};
	const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 260);
	// A value that does not fit is as good as none: it cannot be used whole.
	if (length == 0 || length > 259) {
		location.missing_var = "LOCALAPPDATA";
		return location;
	}
	location.path = WideToUtf8(std::wstring_view(buffer, length)) + "\\openvr\\openvrpaths.vrpath";
	location.found = true;
	return location;
}

namespace {

// A file on disk, not a directory: a pipe, a console or a device such as NUL
// or COM1 could block the reader or never end.
bool IsRegularFile(HANDLE handle)
{
	if (GetFileType(handle) != FILE_TYPE_DISK)
		return false;
	BY_HANDLE_FILE_INFORMATION info;
	return GetFileInformationByHandle(handle, &info) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

std::FILE *OpenRegularFile(const std::string &path, bool text)
{
	// The sharing fopen grants, so a file the runtime holds open still reads.
	const std::wstring wide = Utf8ToWide(path);
	if (wide.empty())
		return nullptr;
	const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
	                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (handle == INVALID_HANDLE_VALUE)
		return nullptr;
	if (!IsRegularFile(handle)) {
		CloseHandle(handle);
		return nullptr;
	}
	// From here the C runtime owns the handle: fclose closes it.
	const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | (text ? _O_TEXT : _O_BINARY));
	if (fd < 0) {
		CloseHandle(handle);
		return nullptr;
	}
	std::FILE *file = _fdopen(fd, text ? "r" : "rb");
	if (file == nullptr)
		_close(fd);
	return file;
}

bool FileExists(const std::string &path)
{
	const std::wstring wide = Utf8ToWide(path);
	return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace zelvan
