// The kept copies' folder on Windows: under %LOCALAPPDATA%, whose access
// list is the user's own and is inherited by what is made in it; a folder
// of ours that is a reparse point (link, junction) is refused.
#include "ipd/kept_config.h"

#include <algorithm>

#include <windows.h>

#include "core/wide_text.h"
#include "ipd/runtime_paths.h"

namespace zelvan {
namespace {

bool OwnFolder(const std::wstring &path, bool create, const std::string &shown, std::string &note)
{
	if (create && !CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
		note = "cannot create " + shown + " (error " + std::to_string(GetLastError()) + ")";
		return false;
	}
	const DWORD attributes = GetFileAttributesW(path.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES) {
		note = "cannot open " + shown + " (error " + std::to_string(GetLastError()) + ")";
		return false;
	}
	if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
		note = shown + " is not a folder (a link is refused)";
		return false;
	}
	return true;
}

} // namespace

KeptFolder::~KeptFolder() {}

bool KeptFolder::Open(bool create)
{
	wchar_t buffer[MAX_PATH + 1] = {};
	const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH + 1);
	if (length == 0 || length > MAX_PATH) {
		note_ = "LOCALAPPDATA is not set";
		return false;
	}
	std::wstring path(buffer, length);
	while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
		path.pop_back();
	for (const wchar_t *name : {L"ZelvanProximity", L"kept-config"}) {
		path += std::wstring(L"\\") + name;
		if (!OwnFolder(path, create, WideToUtf8(path), note_))
			return false;
	}
	path_ = WideToUtf8(path) + "\\";
	return true;
}

bool KeptFolder::Names(std::vector<std::string> &names) const
{
	names.clear();
	WIN32_FIND_DATAW found{};
	const HANDLE search = FindFirstFileW(Utf8ToWide(path_ + "*").c_str(), &found);
	if (search == INVALID_HANDLE_VALUE)
		return GetLastError() == ERROR_FILE_NOT_FOUND;
	do {
		if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0)
			names.push_back(WideToUtf8(found.cFileName));
	} while (FindNextFileW(search, &found));
	FindClose(search);
	std::sort(names.begin(), names.end());
	return true;
}

TempRead KeptFolder::Read(const std::string &name, std::string &content) const
{
	content.clear();
	HANDLE file = CreateFileW(Utf8ToWide(path_ + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
	                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return TempRead::Unreadable;
	BY_HANDLE_FILE_INFORMATION info{};
	bool ok = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
	          (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
	          info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxRuntimeFileBytes;
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

TempWrite KeptFolder::CreateNew(const std::string &name, const std::string &bytes) const
{
	const std::wstring path = Utf8ToWide(path_ + name);
	HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
	                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return TempWrite::NotCreated;
	DWORD written = 0;
	const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
	                written == bytes.size() && FlushFileBuffers(file);
	// A copy cut short is no copy: it goes, so that the next run keeps one.
	if (!CloseHandle(file) || !ok) {
		DeleteFileW(path.c_str());
		return TempWrite::NotWritten;
	}
	return TempWrite::Ok;
}

bool KeptFolder::Replace(const std::string &name, const std::string &bytes) const
{
	const std::wstring part = Utf8ToWide(path_ + name + ".part");
	DeleteFileW(part.c_str());
	if (CreateNew(name + ".part", bytes) != TempWrite::Ok)
		return false;
	if (!MoveFileExW(part.c_str(), Utf8ToWide(path_ + name).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
		DeleteFileW(part.c_str());
		return false;
	}
	return true;
}

} // namespace zelvan
