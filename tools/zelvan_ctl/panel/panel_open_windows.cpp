// The panel's start on Windows: BCryptGenRandom, the launch file under
// %LOCALAPPDATA%\ZelvanProximity\panel\ (the user's own profile, so its ACL
// keeps other users out), and ShellExecuteW.
#include "tools/zelvan_ctl/panel/panel_open.h"

#include <windows.h>
#include <bcrypt.h>
#include <shellapi.h>

#include <filesystem>

#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

bool RandomBytes(unsigned char *bytes, size_t size)
{
	return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

bool WriteLaunchFile(const std::string &address, LaunchFile &file, std::string &error)
{
	wchar_t local[MAX_PATH];
	const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH);
	if (length == 0 || length >= MAX_PATH) {
		error = "LOCALAPPDATA is not set";
		return false;
	}
	const std::filesystem::path folder = std::filesystem::path(local) / L"ZelvanProximity" / L"panel";
	std::error_code failed;
	std::filesystem::create_directories(folder, failed);
	std::string suffix;
	if (!RandomSecret(suffix)) {
		error = "no randomness for the launch file's name";
		return false;
	}
	const std::filesystem::path path = folder / Utf8Path("open-panel-" + suffix.substr(0, 16) + ".html");
	file.folder.clear();
	file.path = Utf8String(path);
	const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (handle == INVALID_HANDLE_VALUE) {
		error = "cannot create " + file.path + " (error " + std::to_string(GetLastError()) + ")";
		return false;
	}
	const std::string page = LaunchPage(address);
	DWORD written = 0;
	const bool ok = WriteFile(handle, page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
	                written == page.size();
	CloseHandle(handle);
	if (!ok) {
		error = "cannot write " + file.path;
		RemoveLaunchFile(file);
		return false;
	}
	return true;
}

void RemoveLaunchFile(const LaunchFile &file)
{
	if (!file.path.empty())
		DeleteFileW(Utf8Path(file.path).c_str());
}

bool OpenInBrowser(const LaunchFile &file, std::string &error)
{
	const HINSTANCE result = ShellExecuteW(nullptr, L"open", Utf8Path(file.path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
	if (reinterpret_cast<INT_PTR>(result) <= 32) {
		error = "Windows could not open " + file.path + " in the browser";
		return false;
	}
	return true;
}

} // namespace zelvan::ctl
