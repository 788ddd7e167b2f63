// The console tool runner on Windows: a hidden child whose standard streams
// are anonymous pipes.
#include "ipd/console_runner.h"

#include <windows.h>

#include "core/driver_log.h"
#include "core/wide_text.h"

namespace zelvan {

const char *const kConsoleToolName = "lighthouse_console.exe";

namespace {

constexpr long long kReadBoundMs = 10000;
constexpr long long kExitWaitMs = 10000;

bool WriteAll(HANDLE pipe, const std::string &text)
{
	DWORD written = 0;
	return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

// The single read that decides the run. An anonymous pipe has no time-out
// of its own, so it is peeked until data arrives, the tool closes its end,
// or the bound passes.
bool ReadOnce(HANDLE pipe, long long bound_ms, bool &timed_out, std::string *output)
{
	timed_out = false;
	const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(bound_ms);
	for (;;) {
		DWORD available = 0;
		if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
			return false;
		if (available > 0) {
			char buffer[4096];
			DWORD n = 0;
			if (!ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr))
				return false;
			KeepOutput(output, buffer, n);
			return true;
		}
		if (GetTickCount64() >= deadline) {
			timed_out = true;
			return false;
		}
		Sleep(1);
	}
}

// Reads and discards what is waiting, so a talkative tool never blocks on a
// full pipe while it is waited for.
void Drain(HANDLE pipe, std::string *output)
{
	DWORD available = 0;
	while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
		char buffer[4096];
		DWORD n = 0;
		if (!ReadFile(pipe, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &n, nullptr))
			return;
		KeepOutput(output, buffer, n);
	}
}

bool MakePipe(HANDLE &read_end, HANDLE &write_end, HANDLE &driver_end)
{
	SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
	if (!CreatePipe(&read_end, &write_end, &attributes, 0))
		return false;
	return SetHandleInformation(driver_end, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

// A job that kills every process in it when its last handle closes, so that
// whatever the tool starts ends with it. Null when the system refuses one:
// the tool then runs as it would without.
HANDLE MakeKillOnCloseJob()
{
	HANDLE job = CreateJobObjectW(nullptr, nullptr);
	if (job == nullptr)
		return nullptr;
	JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
	limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
	if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
		CloseHandle(job);
		return nullptr;
	}
	return job;
}

void Terminate(HANDLE job, HANDLE process)
{
	if (job != nullptr)
		TerminateJobObject(job, 1);
	TerminateProcess(process, 1);
}

void CloseAll(std::initializer_list<HANDLE *> handles)
{
	for (HANDLE *h : handles) {
		if (*h != nullptr)
			CloseHandle(*h);
		*h = nullptr;
	}
}

} // namespace

ConsoleRun RunLighthouseConsole(const std::string &exe_path, const std::string &first_command,
                                const std::string &second_command, ConsoleClock::time_point deadline,
                                std::string *output)
{
	ConsoleRun run;
	HANDLE in_read = nullptr, in_write = nullptr, out_read = nullptr, out_write = nullptr;
	if (!MakePipe(in_read, in_write, in_write) || !MakePipe(out_read, out_write, out_read)) {
		CloseAll({&in_read, &in_write, &out_read, &out_write});
		return run;
	}

	STARTUPINFOW startup{};
	startup.cb = sizeof(startup);
	startup.dwFlags = STARTF_USESTDHANDLES;
	startup.hStdInput = in_read;
	startup.hStdOutput = out_write;
	startup.hStdError = out_write;
	PROCESS_INFORMATION process{};
	HANDLE job = MakeKillOnCloseJob();
	// Suspended until it is in the job, so that nothing it starts escapes.
	// The runtime's folder may be named in any script: the wide call.
	const std::wstring exe = Utf8ToWide(exe_path);
	if (exe.empty() || !CreateProcessW(exe.c_str(), nullptr, nullptr, nullptr, TRUE,
	                                   CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
		DriverLog("IPD Persist: Failed to start lighthouse_console (err=%lu)\n", GetLastError());
		CloseAll({&in_read, &in_write, &out_read, &out_write, &job});
		return run;
	}
	if (job != nullptr && !AssignProcessToJobObject(job, process.hProcess))
		CloseAll({&job});
	ResumeThread(process.hThread);
	// The child's ends: once it is gone, our reads see the end of the pipe.
	CloseAll({&in_read, &out_write});

	bool read_timed_out = false;
	const long long read_bound = WaitMs(kReadBoundMs, deadline);
	// Both commands in one write: a tool that ends on reading the first must
	// not turn the second write into a failure to talk to it.
	if (WriteAll(in_write, first_command + second_command))
		run.ok = ReadOnce(out_read, read_bound, read_timed_out, output);
	if (read_timed_out) {
		run.out_of_time = read_bound < kReadBoundMs;
		DriverLog(run.out_of_time ? "IPD Persist: WARNING -- out of time, terminating lighthouse_console\n"
		                          : "IPD Persist: WARNING -- lighthouse_console printed nothing in 10 s, terminating\n");
		Terminate(job, process.hProcess);
		WaitForSingleObject(process.hProcess, 5000);
		run.terminated = true;
	} else {
		WriteAll(in_write, "exit\r\n");
		CloseAll({&in_write});
		const long long exit_bound = WaitMs(kExitWaitMs, deadline);
		const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(exit_bound);
		DWORD code = STILL_ACTIVE;
		bool exited = false;
		while (GetExitCodeProcess(process.hProcess, &code)) {
			Drain(out_read, output);
			if (code != STILL_ACTIVE) {
				exited = true;
				break;
			}
			if (GetTickCount64() >= until)
				break;
			Sleep(1);
		}
		if (!exited && code == STILL_ACTIVE) {
			run.out_of_time = exit_bound < kExitWaitMs;
			DriverLog(run.out_of_time ? "IPD Persist: WARNING -- out of time, terminating lighthouse_console\n"
			                          : "IPD Persist: WARNING -- lighthouse_console did not exit, terminating\n");
			Terminate(job, process.hProcess);
			run.terminated = true;
		}
	}
	// Closing the job ends whatever the tool left running.
	CloseAll({&in_write, &out_read, &process.hProcess, &process.hThread, &job});
	return run;
}

} // namespace zelvan
