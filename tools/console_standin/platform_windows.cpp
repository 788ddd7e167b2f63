// Windows process services of the console stand-in.
#include "tools/console_standin/platform.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>

namespace zelvan::console_standin {
namespace {

bool RunningUnderWine()
{
	HMODULE ntdll = GetModuleHandleA("ntdll.dll");
	return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace

void PrepareStandardStreams()
{
	_setmode(_fileno(stdin), _O_BINARY);
	// No "program stopped working" box when CrashNow runs.
	SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

void CrashNow()
{
	std::abort();
}

bool StartBeatingChild(const std::string &beat_file)
{
	char self[MAX_PATH] = {};
	const DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
	if (length == 0 || length >= sizeof(self))
		return false;
	std::string command_line = "\"" + std::string(self) + "\" --beat \"" + beat_file + "\"";
	STARTUPINFOA startup{};
	startup.cb = sizeof(startup);
	PROCESS_INFORMATION process{};
	if (!CreateProcessA(self, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
	                    &startup, &process))
		return false;
	CloseHandle(process.hThread);
	CloseHandle(process.hProcess);
	return true;
}

std::string NativePath(const std::string &path)
{
	static const bool under_wine = RunningUnderWine();
	if (!under_wine || path.size() < 2 || path[0] != '/' || path[1] == '/')
		return path;
	std::string mapped = "Z:" + path;
	std::replace(mapped.begin(), mapped.end(), '/', '\\');
	return mapped;
}

} // namespace zelvan::console_standin
