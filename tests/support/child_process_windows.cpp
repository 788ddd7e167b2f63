// ChildProcess on Windows: CreateProcessW with one pipe for stdout and
// stderr. Arguments and environment values are UTF-8 and cross as UTF-16,
// so a test can hand a program a folder named in any script.
#include "tests/support/child_process.h"
#include "tests/support/process_start_windows.h"

#include <cstdio>
#include <mutex>
#include <thread>

#include <windows.h>

#include "core/wide_text.h"

namespace zelvan::test {

const char *const kExeSuffix = ".exe";

struct ChildProcess::Impl {
	HANDLE process = nullptr;
	HANDLE out_read = nullptr;
	std::thread reader;
	std::mutex mutex;
	std::string output;
	std::optional<int> status;
	unsigned long start_error = 0;

	void Drain()
	{
		char buffer[4096];
		DWORD n = 0;
		while (ReadFile(out_read, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
			std::lock_guard<std::mutex> lock(mutex);
			output.append(buffer, n);
		}
	}
};

namespace {

// The quoting that the C runtime's argv parser undoes.
std::string Quote(const std::string &arg)
{
	if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos)
		return arg;
	std::string out = "\"";
	size_t backslashes = 0;
	for (char c : arg) {
		if (c == '\\') {
			++backslashes;
			continue;
		}
		if (c == '"')
			out.append(backslashes * 2 + 1, '\\');
		else
			out.append(backslashes, '\\');
		backslashes = 0;
		out += c;
	}
	out.append(backslashes * 2, '\\');
	return out + "\"";
}

std::wstring EnvironmentBlock(const std::map<std::string, std::string> &env)
{
	std::map<std::wstring, std::wstring> merged;
	wchar_t *block = GetEnvironmentStringsW();
	for (const wchar_t *p = block; *p != L'\0'; p += wcslen(p) + 1) {
		std::wstring entry = p;
		const size_t eq = entry.find(L'=', 1);
		if (eq != std::wstring::npos)
			merged[entry.substr(0, eq)] = entry.substr(eq + 1);
	}
	FreeEnvironmentStringsW(block);
	for (const auto &[k, v] : env)
		merged[Utf8ToWide(k)] = Utf8ToWide(v);
	std::wstring out;
	for (const auto &[k, v] : merged) {
		out += k + L"=" + v;
		out += L'\0';
	}
	out += L'\0';
	return out;
}

} // namespace

bool StartProcess(const wchar_t *application, wchar_t *command_line, void *environment, STARTUPINFOW &startup,
                  PROCESS_INFORMATION &info, unsigned long &error)
{
	const DWORD flags = CREATE_NO_WINDOW | (environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
	for (int attempt = 0; attempt < 5; ++attempt) {
		if (attempt > 0)
			Sleep(100);
		if (CreateProcessW(application, command_line, nullptr, nullptr, TRUE, flags, environment, nullptr, &startup,
		                   &info))
			return true;
		error = GetLastError();
		fprintf(stderr, "CreateProcess of %s failed (error %lu)\n",
		        WideToUtf8(application != nullptr ? application : command_line).c_str(), error);
	}
	return false;
}

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess()
{
	if (impl_->process != nullptr && !impl_->status)
		Kill();
	if (impl_->reader.joinable())
		impl_->reader.join();
	if (impl_->out_read != nullptr)
		CloseHandle(impl_->out_read);
	if (impl_->process != nullptr)
		CloseHandle(impl_->process);
}

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env)
{
	SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
	HANDLE out_write = nullptr;
	if (!CreatePipe(&impl_->out_read, &out_write, &sa, 0))
		return false;
	SetHandleInformation(impl_->out_read, HANDLE_FLAG_INHERIT, 0);
	HANDLE null_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);

	std::string command;
	for (const auto &a : argv)
		command += (command.empty() ? "" : " ") + Quote(a);
	std::wstring wide_command = Utf8ToWide(command);
	std::wstring environment = EnvironmentBlock(env);

	STARTUPINFOW si{};
	si.cb = sizeof(si);
	si.dwFlags = STARTF_USESTDHANDLES;
	si.hStdInput = null_in;
	si.hStdOutput = out_write;
	si.hStdError = out_write;
	PROCESS_INFORMATION pi{};
	const bool ok = StartProcess(nullptr, wide_command.data(), environment.data(), si, pi, impl_->start_error);
	CloseHandle(out_write);
	if (null_in != INVALID_HANDLE_VALUE)
		CloseHandle(null_in);
	if (!ok)
		return false;
	CloseHandle(pi.hThread);
	impl_->process = pi.hProcess;
	impl_->reader = std::thread([impl = impl_.get()] { impl->Drain(); });
	return true;
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout)
{
	if (impl_->status)
		return impl_->status;
	if (impl_->process == nullptr)
		return -1;
	if (WaitForSingleObject(impl_->process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
		return std::nullopt;
	DWORD code = 0;
	GetExitCodeProcess(impl_->process, &code);
	impl_->status = static_cast<int>(code);
	if (impl_->reader.joinable())
		impl_->reader.join();
	return impl_->status;
}

unsigned long ChildProcess::StartError() const
{
	return impl_->start_error;
}

bool ChildProcess::Terminate()
{
	return false;
}

void ChildProcess::Kill()
{
	if (impl_->process != nullptr && !impl_->status) {
		TerminateProcess(impl_->process, 1);
		Wait(std::chrono::seconds(10));
	}
}

std::string ChildProcess::Output()
{
	std::lock_guard<std::mutex> lock(impl_->mutex);
	return impl_->output;
}

void SetEnvironment(const std::string &name, const std::string &value)
{
	_wputenv_s(Utf8ToWide(name).c_str(), Utf8ToWide(value).c_str());
}

std::string ExecutableDir()
{
	std::wstring path(32768, L'\0');
	path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
	const std::string p = WideToUtf8(path);
	return p.substr(0, p.find_last_of("\\/"));
}

} // namespace zelvan::test
