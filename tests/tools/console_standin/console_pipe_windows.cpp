// ConsolePipe on Windows: CreateProcessA with an anonymous pipe on each
// standard stream, as the driver starts the tool.
#include "console_pipe.h"

#include <thread>

#include <windows.h>

#include "core/wide_text.h"

#include "tests/support/process_start_windows.h"

namespace zelvan::test {

struct ConsolePipe::Impl {
	HANDLE process = nullptr;
	HANDLE in_write = nullptr;
	HANDLE out_read = nullptr;
	std::thread reader;
	std::optional<int> status;
};

ConsolePipe::ConsolePipe() : impl_(std::make_unique<Impl>()) {}

ConsolePipe::~ConsolePipe()
{
	Kill();
	CloseInput();
	if (impl_->reader.joinable())
		impl_->reader.join();
	if (impl_->out_read != nullptr)
		CloseHandle(impl_->out_read);
	if (impl_->process != nullptr)
		CloseHandle(impl_->process);
}

bool ConsolePipe::Start(const std::string &exe)
{
	SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, TRUE};
	HANDLE in_read = nullptr, out_write = nullptr;
	if (!CreatePipe(&in_read, &impl_->in_write, &attributes, 0))
		return false;
	if (!CreatePipe(&impl_->out_read, &out_write, &attributes, 0)) {
		CloseHandle(in_read);
		CloseInput();
		return false;
	}
	SetHandleInformation(impl_->in_write, HANDLE_FLAG_INHERIT, 0);
	SetHandleInformation(impl_->out_read, HANDLE_FLAG_INHERIT, 0);
	STARTUPINFOW startup{};
	startup.cb = sizeof(startup);
	startup.dwFlags = STARTF_USESTDHANDLES;
	startup.hStdInput = in_read;
	startup.hStdOutput = out_write;
	startup.hStdError = out_write;
	PROCESS_INFORMATION info{};
	unsigned long error = 0;
	const std::wstring wide_exe = Utf8ToWide(exe);
	const bool ok = StartProcess(wide_exe.c_str(), nullptr, nullptr, startup, info, error);
	CloseHandle(in_read);
	CloseHandle(out_write);
	if (!ok)
		return false;
	CloseHandle(info.hThread);
	impl_->process = info.hProcess;
	impl_->reader = std::thread([this] { Drain(); });
	return true;
}

bool ConsolePipe::ReadSome(char *buffer, size_t size, size_t &got)
{
	DWORD n = 0;
	const BOOL ok = ReadFile(impl_->out_read, buffer, static_cast<DWORD>(size), &n, nullptr);
	got = n;
	return ok && n > 0;
}

bool ConsolePipe::Write(const std::string &bytes)
{
	DWORD written = 0;
	return impl_->in_write != nullptr &&
	       WriteFile(impl_->in_write, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
	       written == bytes.size();
}

void ConsolePipe::CloseInput()
{
	if (impl_->in_write != nullptr)
		CloseHandle(impl_->in_write);
	impl_->in_write = nullptr;
}

std::optional<int> ConsolePipe::Wait(std::chrono::milliseconds timeout)
{
	if (impl_->status || impl_->process == nullptr)
		return impl_->status;
	if (WaitForSingleObject(impl_->process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
		return std::nullopt;
	DWORD code = 0;
	GetExitCodeProcess(impl_->process, &code);
	impl_->status = static_cast<int>(code);
	return impl_->status;
}

void ConsolePipe::Kill()
{
	if (impl_->process != nullptr && !impl_->status) {
		TerminateProcess(impl_->process, 1);
		Wait(std::chrono::seconds(10));
	}
}

} // namespace zelvan::test
