// ControlServer: creating the channel (again, while another process holds
// its name), serving one message a frame, and removing it.
#include "control/control_server.h"

#include <chrono>

#include "control/control_commands.h"
#include "core/driver_log.h"

namespace zelvan {
namespace {

int64_t SteadyMs()
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
		std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

void ControlServer::CreateControlPipe()
{
	pipe_connected = false;
	pipe_error = 0;
	pipe_retry_at_ms = 0;
	TryCreateControlPipe();
}

// A name still held by a SteamVR that is shutting down frees up within
// seconds: try again every few seconds, logging only a changed outcome.
void ControlServer::RetryControlPipe()
{
	if (pipe == kInvalidPipe && pipe_retry_at_ms != 0 && SteadyMs() >= pipe_retry_at_ms)
		TryCreateControlPipe();
}

void ControlServer::TryCreateControlPipe()
{
	unsigned long error = 0;
	pipe = CreateControlChannel(error);
	if (pipe == kInvalidPipe && error != pipe_error)
		DriverLog("Pipe: Failed to create named pipe (error %lu)\n", error);
	pipe_error = error;
	pipe_retry_at_ms = pipe == kInvalidPipe && ControlChannelNameInUse(error) ? SteadyMs() + kChannelRetryMs : 0;
}

void ControlServer::PollControlPipe(const ControlTargets &targets)
{
	RetryControlPipe();
	char buffer[512];
	const ControlPoll poll = PollControlChannel(pipe, pipe_connected, pipe_client, buffer);
	if (poll.kind == ControlPoll::TooLong) {
		ReplyAndRelease(pipe, pipe_connected, pipe_client, "ERR message too long (max 511 bytes)");
		return;
	}
	if (poll.kind != ControlPoll::Command)
		return;
	char reply[kReplySize];
	ExecuteControlCommand(targets, buffer, reply, poll.length);
	ReplyAndRelease(pipe, pipe_connected, pipe_client, reply);
}

void ControlServer::DestroyControlPipe()
{
	DestroyControlChannel(pipe, pipe_connected, pipe_client);
}

} // namespace zelvan
