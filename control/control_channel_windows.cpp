// The control channel on Windows: a one-instance, message-mode, non-blocking
// named pipe that refuses remote clients.
#include "control/control_channel.h"

#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "core/driver_log.h"

namespace zelvan {
namespace {

constexpr char kPipePrefix[] = "\\\\.\\pipe\\";
constexpr char kPipeName[] = "zelvan_proximity_ctl";
// A client that never reads its reply keeps the instance at most this long.
constexpr int64_t kReleaseDeadlineMs = 1000;
// Clients gone without a command that one frame releases.
constexpr unsigned kGoneClientsPerFrame = 8;

HANDLE AsHandle(PipeHandle pipe)
{
	return reinterpret_cast<HANDLE>(pipe);
}

int64_t NowMs()
{
	return static_cast<int64_t>(GetTickCount64());
}

void Release(HANDLE pipe, bool &connected, PipeClient &client)
{
	DisconnectNamedPipe(pipe);
	client = PipeClient{};
	connected = false;
}

// The client has closed its end once a peek reports a broken pipe.
bool ClientGone(HANDLE pipe)
{
	DWORD available = 0;
	return !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && GetLastError() == ERROR_BROKEN_PIPE;
}

} // namespace

std::string ControlChannelName()
{
	const char *test_name = std::getenv("ZELVAN_TEST_CHANNEL");
	return std::string(kPipePrefix) + (test_name != nullptr && test_name[0] != '\0' ? test_name : kPipeName);
}

bool ControlChannelNameInUse(unsigned long error)
{
	// 231: the one instance exists; 5: it belongs to another user.
	return error == ERROR_PIPE_BUSY || error == ERROR_ACCESS_DENIED;
}

PipeHandle CreateControlChannel(unsigned long &error)
{
	const std::string name = ControlChannelName();
	HANDLE pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
	                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS,
	                               1, 512, 512, 0, nullptr);
	if (pipe == INVALID_HANDLE_VALUE) {
		error = GetLastError();
		return kInvalidPipe;
	}
	error = 0;
	DriverLog("Pipe: Created %s\n", name.c_str());
	return reinterpret_cast<PipeHandle>(pipe);
}

ControlPoll PollControlChannel(PipeHandle handle, bool &connected, PipeClient &client, char (&buffer)[512])
{
	if (handle == kInvalidPipe)
		return {};
	HANDLE pipe = AsHandle(handle);

	if (client.releasing) {
		if (ClientGone(pipe) || NowMs() >= client.release_deadline_ms)
			Release(pipe, connected, client);
		return {};
	}
	// A client gone without a command is released and the instance listens
	// again in the same frame, as many as this a frame: a loop of clients
	// that connect and close cannot take a frame each from the one with a
	// command.
	for (unsigned gone = 0;;) {
		if (!connected) {
			ConnectNamedPipe(pipe, nullptr);
			const DWORD error = GetLastError();
			// 232: the client attached and already closed; its message may still be there.
			if (error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA)
				return {};
			connected = true;
			client.idle_deadline_ms = NowMs() + kIdleClientMs;
		}

		DWORD count = 0;
		const BOOL ok = ReadFile(pipe, buffer, static_cast<DWORD>(kMaxCommandBytes), &count, nullptr);
		const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
		if (client.discarding || error == ERROR_MORE_DATA) {
			// Read the over-long message away, then refuse it whole.
			client.discarding = true;
			if (error == ERROR_MORE_DATA)
				return {};
			if (ok) {
				client.discarding = false;
				return {ControlPoll::TooLong, 0};
			}
		}
		if (ok && count != 0) {
			buffer[count] = '\0';
			return {ControlPoll::Command, count};
		}
		if (!ok && error == ERROR_BROKEN_PIPE) {
			Release(pipe, connected, client);
			if (++gone == kGoneClientsPerFrame)
				return {};
			continue;
		}
		// A client that sends no command would hold the only instance forever.
		if (!client.discarding && NowMs() >= client.idle_deadline_ms)
			Release(pipe, connected, client);
		return {};
	}
}

void ReplyAndRelease(PipeHandle handle, bool &connected, PipeClient &client, const char *reply)
{
	HANDLE pipe = AsHandle(handle);
	DWORD written = 0;
	WriteFile(pipe, reply, static_cast<DWORD>(std::strlen(reply)), &written, nullptr);
	// Disconnecting now would throw the reply away, and a flush would wait for
	// the client inside the frame: the instance is released on a later frame.
	client.discarding = false;
	client.releasing = true;
	client.release_deadline_ms = NowMs() + kReleaseDeadlineMs;
	connected = true;
}

void DestroyControlChannel(PipeHandle &handle, bool &connected, PipeClient &client)
{
	if (handle == kInvalidPipe)
		return;
	HANDLE pipe = AsHandle(handle);
	if (connected)
		DisconnectNamedPipe(pipe);
	CloseHandle(pipe);
	handle = kInvalidPipe;
	connected = false;
	client = PipeClient{};
	DriverLog("Pipe: Destroyed\n");
}

} // namespace zelvan
