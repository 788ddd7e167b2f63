// zelvan-ctl report on Windows: the version the kernel reports (GetVersionEx
// lies to programs without a manifest), Wine's when it runs under Wine, and
// the user from the profile's variables.
#include "tools/zelvan_ctl/doctor/bug_report.h"

#include <ctime>

#include <windows.h>

#include "core/wide_text.h"

namespace zelvan::ctl {
namespace {

// GCC lets a function pointer pass through void (*)() without a warning.
template <typename Function>
Function Lookup(HMODULE module, const char *name)
{
	const FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
	return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

} // namespace

std::string SystemVersion()
{
	const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
	using RtlGetVersionFunction = LONG(WINAPI *)(RTL_OSVERSIONINFOW *);
	using WineGetVersionFunction = const char *(CDECL *)();
	std::string out = "Windows";
	RTL_OSVERSIONINFOW info{};
	info.dwOSVersionInfoSize = sizeof(info);
	const auto get_version = Lookup<RtlGetVersionFunction>(ntdll, "RtlGetVersion");
	if (get_version != nullptr && get_version(&info) == 0)
		out += " " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
		       std::to_string(info.dwBuildNumber);
	else
		out += " (version unknown)";
	if (const auto wine = Lookup<WineGetVersionFunction>(ntdll, "wine_get_version"); wine != nullptr)
		out += std::string(" under Wine ") + wine();
	return out;
}

UserIdentity CurrentUser()
{
	return {EnvironmentUtf8("USERNAME"), EnvironmentUtf8("USERPROFILE"), true};
}

std::string LocalDate()
{
	const std::time_t now = std::time(nullptr);
	std::tm local{};
	char text[16] = "0000-00-00";
	if (localtime_s(&local, &now) == 0)
		std::strftime(text, sizeof(text), "%Y-%m-%d", &local);
	return text;
}

} // namespace zelvan::ctl
