// The persistence's temporary folder on Windows: the user's own temporary
// folder, with files created new and opened without following reparse
// points (links, junctions).
#include "ipd/temp_folder.h"

#include <windows.h>

#include "ipd/runtime_paths.h"

namespace zelvan {

TempFolder::~TempFolder() {}

bool TempFolder::Make()
{
	char buffer[260] = {};
	const DWORD length = GetTempPathA(sizeof(buffer), buffer);
	if (length == 0 || length > 259) {
		note_ = length == 0 ? "from GetTempPathA: error " + std::to_string(GetLastError())
		                    : "from GetTempPathA: the path is longer than 259 characters";
		return false;
	}
	path_ = buffer;
	return true;
}

std::string TempFolder::PathOf(const std::string &name) const
{
	return path_ + name;
}

bool TempFolder::StillInPlace() const
{
	return !path_.empty();
}

bool TempFolder::Exists(const std::string &name) const
{
	return GetFileAttributesA(PathOf(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TempRead TempFolder::Read(const std::string &name, std::string &content) const
{
	HANDLE file = CreateFileA(PathOf(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
	                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return TempRead::Unreadable;
	BY_HANDLE_FILE_INFORMATION info{};
	bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
	          (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
	          info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxRuntimeFileBytes;
	content.clear();
	char buffer[4096];
	while (ok) {
		DWORD n = 0;
		if (!ReadFile(file, buffer, sizeof(buffer), &n, nullptr)) {
			ok = false;
			break;
		}
		if (n == 0)
			break;
		content.append(buffer, n);
		ok = content.size() <= kMaxRuntimeFileBytes;
	}
	CloseHandle(file);
	if (!ok)
		content.clear();
	return ok ? TempRead::Ok : TempRead::Unreadable;
}

TempWrite TempFolder::Create(const std::string &name, const std::string &text) const
{
	// CREATE_NEW fails on any existing name, a link included.
	HANDLE file = CreateFileA(PathOf(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
	                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return TempWrite::NotCreated;
	DWORD written = 0;
	const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
	                written == text.size();
	const bool closed = CloseHandle(file) != FALSE;
	return ok && closed ? TempWrite::Ok : TempWrite::NotWritten;
}

void TempFolder::Delete(const std::string &name) const
{
	DeleteFileA(PathOf(name).c_str());
}

} // namespace zelvan
