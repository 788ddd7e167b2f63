// The persistence's temporary folder on Windows: the user's own temporary
// folder, with files created new and opened without following reparse
// points (links, junctions). Its path is typed into the console tool, which
// reads it in its own code page: a folder named outside ASCII is given in
// its short (8.3) form, which is ASCII.
#include "ipd/temp_folder.h"

#include <windows.h>

#include "core/text_escape.h"
#include "core/wide_text.h"
#include "ipd/runtime_paths.h"

namespace zelvan {

TempFolder::~TempFolder() {}

bool TempFolder::Make()
{
	wchar_t buffer[MAX_PATH + 1] = {};
	const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
	if (length == 0 || length > MAX_PATH) {
		note_ = length == 0 ? "from GetTempPathW: error " + std::to_string(GetLastError())
		                    : "from GetTempPathW: the path is longer than 260 characters";
		return false;
	}
	const std::string named = WideToUtf8(std::wstring_view(buffer, length));
	if (IsAscii(named)) {
		path_ = named;
		return true;
	}
	// The name is for the log: a folder may be named with C1 controls.
	const std::string logged = EscapeControlBytes(named);
	wchar_t short_form[MAX_PATH + 1] = {};
	const DWORD short_length = GetShortPathNameW(buffer, short_form, MAX_PATH + 1);
	// A folder that is missing, or not ours to look into, has no short form
	// to ask for: that is the cause to name, not the want of one.
	if (short_length == 0) {
		note_ = logged + ": its name is not ASCII and its short form could not be read (error " +
		        std::to_string(GetLastError()) + ")";
		return false;
	}
	const std::string short_path =
		short_length <= MAX_PATH ? WideToUtf8(std::wstring_view(short_form, short_length)) : "";
	if (short_path.empty() || !IsAscii(short_path)) {
		note_ = logged + ": its name is not ASCII and it has no short form that is, so the console tool could not "
		                 "be given it";
		return false;
	}
	path_ = short_path;
	note_ = path_ + " (the short form of " + logged + ", whose name the console tool cannot read)";
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
	return GetFileAttributesW(Utf8ToWide(PathOf(name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TempRead TempFolder::Read(const std::string &name, std::string &content) const
{
	HANDLE file = CreateFileW(Utf8ToWide(PathOf(name)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
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
	HANDLE file = CreateFileW(Utf8ToWide(PathOf(name)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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
	DeleteFileW(Utf8ToWide(PathOf(name)).c_str());
}

} // namespace zelvan
