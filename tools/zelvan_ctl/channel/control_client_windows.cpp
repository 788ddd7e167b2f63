// The control client on Windows: a message-mode connection to the driver's
// named pipe.
#include "tools/zelvan_ctl/channel/control_client.h"

#include <thread>

#include <windows.h>

#include "core/wide_text.h"

namespace zelvan::ctl {

Exchange SendCommand(const std::string &channel, const std::string &command, std::chrono::milliseconds timeout)
{
	const auto deadline = std::chrono::steady_clock::now() + timeout;
	auto left_ms = [&] {
		return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
	};
	const std::wstring name = Utf8ToWide(channel);
	if (name.empty())
		return {Outcome::Failed, "not a channel name: " + channel};
	HANDLE pipe = INVALID_HANDLE_VALUE;
	for (;;) {
		pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
		if (pipe != INVALID_HANDLE_VALUE)
			break;
		const DWORD error = GetLastError();
		if (error == ERROR_FILE_NOT_FOUND)
			return {Outcome::NoDriver, {}};
		if (error != ERROR_PIPE_BUSY)
			return {Outcome::Failed, "CreateFile error " + std::to_string(error)};
		if (left_ms() <= 0)
			return {Outcome::TimedOut, {}};
		// Another client holds the single instance.
		WaitNamedPipeW(name.c_str(), static_cast<DWORD>(std::min<long long>(left_ms(), 50)));
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	DWORD mode = PIPE_READMODE_MESSAGE;
	SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);

	Exchange result{Outcome::TimedOut, {}};
	DWORD written = 0;
	if (!WriteFile(pipe, command.data(), static_cast<DWORD>(command.size()), &written, nullptr)) {
		result = {Outcome::Failed, "WriteFile error " + std::to_string(GetLastError())};
	} else {
		while (left_ms() > 0) {
			DWORD available = 0;
			if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
				result = {Outcome::Failed, "the driver closed the connection without a reply"};
				break;
			}
			if (available == 0) {
				Sleep(2);
				continue;
			}
			char buffer[1024];
			DWORD n = 0;
			if (ReadFile(pipe, buffer, sizeof(buffer), &n, nullptr) || GetLastError() == ERROR_MORE_DATA) {
				result = {Outcome::Replied, std::string(buffer, n)};
				break;
			}
		}
	}
	CloseHandle(pipe);
	return result;
}

} // namespace zelvan::ctl
