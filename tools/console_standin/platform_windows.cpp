// Windows process services of the console stand-in.
#include "tools/console_standin/platform.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>


#include <algorithm>

#include "core/wide_text.h"

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
	wchar_t self[32768] = {};
	const DWORD length = GetModuleFileNameW(nullptr, self, 32768);
	if (length == 0 || length >= 32768)
		return false;
	std::wstring command_line = L"\"" + std::wstring(self) + L"\" --beat \"" + Utf8ToWide(beat_file) + L"\"";
	STARTUPINFOW startup{};
	startup.cb = sizeof(startup);
	PROCESS_INFORMATION process{};
	if (!CreateProcessW(self, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
	                    &startup, &process))
		return false;
	CloseHandle(process.hThread);
	CloseHandle(process.hProcess);
	return true;
}

std::vector<std::string> ProgramArguments(int argc, char **argv)
{
	return CommandLineUtf8(argc, argv);
}

std::string Environment(const char *name)
{
	return EnvironmentUtf8(name);
}

std::FILE *OpenUtf8File(const std::string &path, const char *mode)
{
	return zelvan::OpenUtf8File(path, mode);
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
