// The panel's folders on Windows: %LOCALAPPDATA%\ZelvanProximity, each of
// ours checked to be a folder (no junction or link) that this user owns.
#include "tools/zelvan_ctl/panel/panel_folders.h"

#include <windows.h>

#include <aclapi.h>

#include <ctime>
#include <memory>
#include <vector>

#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

std::wstring Variable(const wchar_t *name)
{
	std::vector<wchar_t> value(32768);
	const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
	return length > 0 && length < value.size() ? std::wstring(value.data(), length) : std::wstring();
}

// This user, or the owner its new files get (Administrators when elevated).
bool OwnedByUs(PSID owner)
{
	HANDLE token = nullptr;
	if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
		return false;
	bool ours = false;
	for (const TOKEN_INFORMATION_CLASS kind : {TokenUser, TokenOwner}) {
		DWORD size = 0;
		GetTokenInformation(token, kind, nullptr, 0, &size);
		std::vector<unsigned char> buffer(size);
		if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size))
			continue;
		const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid
		                                   : reinterpret_cast<TOKEN_OWNER *>(buffer.data())->Owner;
		ours = ours || EqualSid(owner, sid);
	}
	CloseHandle(token);
	return ours;
}

bool OwnFolder(const std::wstring &path, std::string &error)
{
	const std::string shown = Utf8String(path);
	if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
		error = "cannot make " + shown + " (error " + std::to_string(GetLastError()) + ")";
		return false;
	}
	const DWORD attributes = GetFileAttributesW(path.c_str());
	if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
	    (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
		error = shown + ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
		                     ? " is a link"
		                     : " is not a folder") +
		        "; the panel writes nothing there";
		return false;
	}
	PSID owner = nullptr;
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	const DWORD got = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
	                                        nullptr, nullptr, nullptr, &descriptor);
	const bool ours = got == ERROR_SUCCESS && owner != nullptr && OwnedByUs(owner);
	if (descriptor != nullptr)
		LocalFree(descriptor);
	if (!ours) {
		error = shown + " belongs to another user; the panel writes nothing there";
		return false;
	}
	return true;
}

} // namespace

bool PanelFolder(const std::string &which, std::string &folder, std::string &error)
{
	std::wstring base = Variable(L"ZELVAN_PANEL_DATA");
	if (base.empty()) {
		const std::wstring local = Variable(L"LOCALAPPDATA");
		if (local.empty()) {
			error = "no LOCALAPPDATA folder to keep the panel's files in";
			return false;
		}
		base = local + L"\\ZelvanProximity";
	}
	while (base.size() > 3 && (base.back() == L'\\' || base.back() == L'/'))
		base.pop_back();
	const std::wstring path = base + L"\\" + Utf8Path(which).wstring();
	if (!OwnFolder(base, error) || !OwnFolder(path, error))
		return false;
	folder = Utf8String(path);
	return true;
}

std::string LocalStamp()
{
	const std::time_t now = std::time(nullptr);
	std::tm local{};
	char text[32] = "0000-00-00-000000";
	if (localtime_s(&local, &now) == 0)
		std::strftime(text, sizeof(text), "%Y-%m-%d-%H%M%S", &local);
	return text;
}

} // namespace zelvan::ctl
