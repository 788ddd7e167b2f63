// zelvan-ctl doctor --fix on Windows: vrserver.exe among the processes, the
// runtime's vrpathreg.exe, and a file replaced by ReplaceFile. Names cross
// into Windows as UTF-16, so folders named in any script work.
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <system_error>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "core/wide_text.h"
#include "tools/zelvan_ctl/doctor/json_walk.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {

const char *const kInstallScript = "install.cmd";
const char *const kVrpathregName = "vrpathreg.exe";
const char *const kVrpathregInRuntime = "bin\\win64\\vrpathreg.exe";
const char *const kVrpathregHint = "C:\\Program Files (x86)\\Steam\\steamapps\\common\\SteamVR\\bin\\win64\\vrpathreg.exe";
const char *const kUninstallHow = "Zelvan Proximity in Settings > Apps for the setup program's copy, install.cmd "
                                  "--uninstall in the folder for a script's";

namespace {

// A vrpathreg that hangs must not hold the doctor for ever.
constexpr DWORD kToolWaitMs = 30000;

std::string Quoted(const std::string &arg)
{
	// CommandLineToArgvW's rules: backslashes double only before a quote.
	std::string out = "\"";
	size_t backslashes = 0;
	for (char c : arg) {
		if (c == '\\') {
			++backslashes;
			continue;
		}
		out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
		backslashes = 0;
		out += c;
	}
	out.append(backslashes * 2, '\\');
	return out + "\"";
}

} // namespace

// The setup program's Add/Remove Programs entry (a test names another key
// under HKCU instead). Read as UTF-16, so a folder named in any script
// arrives whole.
std::string SetupProgramFolder()
{
	std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZelvanProximity";
	if (const wchar_t *test = _wgetenv(L"ZELVAN_TEST_SETUP_KEY"); test != nullptr && *test != L'\0')
		key = test;
	DWORD bytes = 0;
	if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"InstallLocation", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
	        ERROR_SUCCESS ||
	    bytes < sizeof(wchar_t))
		return {};
	std::wstring value(bytes / sizeof(wchar_t), L'\0');
	if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"InstallLocation", RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
	    ERROR_SUCCESS)
		return {};
	value.resize(wcsnlen(value.c_str(), value.size()));
	if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
		value = value.substr(1, value.size() - 2);
	return WideToUtf8(value);
}

bool IsVrServerRunning()
{
	const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
	if (snapshot == INVALID_HANDLE_VALUE)
		return false;
	PROCESSENTRY32W entry{};
	entry.dwSize = sizeof(entry);
	bool found = false;
	for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
		found = _wcsicmp(entry.szExeFile, L"vrserver.exe") == 0;
	CloseHandle(snapshot);
	return found;
}

std::string VrpathregPath(const std::string &runtime_dir)
{
	if (runtime_dir.empty())
		return {};
	const std::string path = JoinUtf8(runtime_dir, kVrpathregInRuntime);
	std::error_code error;
	return !path.empty() && std::filesystem::is_regular_file(Utf8Path(path), error) ? path : std::string();
}

bool RunTool(const std::string &program, const std::vector<std::string> &args, std::string &output)
{
	std::string command_line = Quoted(program);
	for (const std::string &arg : args)
		command_line += " " + Quoted(arg);
	const std::wstring wide_program = Utf8ToWide(program);
	std::wstring wide_command_line = Utf8ToWide(command_line);
	if (wide_program.empty() || wide_command_line.empty()) {
		output = "cannot start it: a name in its command line is not UTF-8";
		return false;
	}
	SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
	HANDLE read_end = nullptr, write_end = nullptr;
	if (!CreatePipe(&read_end, &write_end, &inherit, 0))
		return false;
	SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
	STARTUPINFOW startup{};
	startup.cb = sizeof(startup);
	startup.dwFlags = STARTF_USESTDHANDLES;
	startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
	startup.hStdOutput = write_end;
	startup.hStdError = write_end;
	PROCESS_INFORMATION process{};
	const BOOL started = CreateProcessW(wide_program.c_str(), wide_command_line.data(), nullptr, nullptr, TRUE,
	                                    CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
	CloseHandle(write_end);
	if (!started) {
		output = "cannot start it (error " + std::to_string(GetLastError()) + ")";
		CloseHandle(read_end);
		return false;
	}
	// vrpathreg prints a line or two, which the pipe holds until it exits;
	// waiting first bounds the time whatever it does.
	DWORD code = 1;
	if (WaitForSingleObject(process.hProcess, kToolWaitMs) != WAIT_OBJECT_0) {
		TerminateProcess(process.hProcess, 1);
		output = "did not finish in 30 s";
	} else {
		GetExitCodeProcess(process.hProcess, &code);
		char buffer[4096];
		DWORD available = 0, n = 0;
		while (PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
		       ReadFile(read_end, buffer, sizeof(buffer), &n, nullptr) && n > 0)
			output.append(buffer, n);
	}
	CloseHandle(read_end);
	CloseHandle(process.hThread);
	CloseHandle(process.hProcess);
	return code == 0;
}

namespace {

// The file's access list, for the files made beside it.
bool DaclOf(const std::wstring &path, std::vector<unsigned char> &sd)
{
	DWORD size = 0;
	GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
	sd.resize(size);
	return size > 0 && GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd.data(), size, &size);
}

// `bytes` in a new file with the access list `sd` (set while it is still
// empty), flushed to disk; `how`: CREATE_NEW or CREATE_ALWAYS.
bool WriteNew(const std::wstring &name, const std::string &shown, DWORD how, std::vector<unsigned char> &sd,
              const std::string &bytes, std::string &error)
{
	const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		error = shown + ": error " + std::to_string(GetLastError());
		return false;
	}
	DWORD written = 0;
	const bool ok = SetFileSecurityW(name.c_str(), DACL_SECURITY_INFORMATION, sd.data()) &&
	                WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
	                written == bytes.size() && FlushFileBuffers(file);
	if (!ok)
		error = shown + ": error " + std::to_string(GetLastError());
	CloseHandle(file);
	if (!ok)
		DeleteFileW(name.c_str());
	return ok;
}

} // namespace

bool ReplaceKeepingBackup(const std::string &path, const std::string &old_bytes, const std::string &bytes,
                          const std::string &backup, std::string &error)
{
	const std::string temp = path + "." + std::to_string(GetCurrentProcessId()) + ".zelvan-tmp";
	const std::wstring wide_temp = Utf8ToWide(temp), wide_path = Utf8ToWide(path), wide_backup = Utf8ToWide(backup);
	if (wide_temp.empty() || wide_path.empty() || wide_backup.empty()) {
		error = path + ": the name is not UTF-8";
		return false;
	}
	// A copy of a private file must not be readable by more people than the
	// file: both new files get its access list from the start.
	std::vector<unsigned char> sd;
	if (!DaclOf(wide_path, sd)) {
		error = "cannot read its access list: error " + std::to_string(GetLastError());
		return false;
	}
	// What another mend (or SteamVR, starting) wrote since the file was read
	// is not written over.
	const auto still_as_read = [&] {
		std::string now, why;
		return ReadJsonBytes(path, now, why) && now == old_bytes;
	};
	const char *const changed = "it changed while it was being mended; run the command again";
	if (!still_as_read()) {
		error = changed;
		return false;
	}
	if (!WriteNew(wide_backup, backup, CREATE_NEW, sd, old_bytes, error))
		return false;
	bool ok = WriteNew(wide_temp, temp, CREATE_ALWAYS, sd, bytes, error);
	// SteamVR takes no lock: a save of its during the writes above would be
	// lost by the replace. Checked again as late as can be.
	if (ok) {
		SaveDuringMendForTest(path);
		if (!still_as_read()) {
			error = changed;
			ok = false;
		}
	}
	if (!ok) {
		DeleteFileW(wide_temp.c_str());
		DeleteFileW(wide_backup.c_str()); // of a mend that was not made
		return false;
	}
	// ReplaceFileW, unlike a move, also keeps the file's attributes. Failed,
	// it may have moved the file away already (ERROR_UNABLE_TO_MOVE_REPLACEMENT
	// without a backup name): the backup stays.
	if (!ReplaceFileW(wide_path.c_str(), wide_temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
	                  nullptr)) {
		error = path + ": error " + std::to_string(GetLastError()) + "; the old file is kept as " + backup;
		DeleteFileW(wide_temp.c_str());
		return false;
	}
	return true;
}

} // namespace zelvan::ctl
