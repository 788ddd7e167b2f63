// The control channel's platform seam: a local, single-instance, message
// oriented channel that the runtime's thread polls once per frame. Windows
// serves a named pipe, POSIX a Unix-domain SOCK_SEQPACKET socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvan {

// A Windows HANDLE or a file descriptor; all bits set means none.
using PipeHandle = std::intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

// Longest command: one byte of the 512-byte receive buffer is the NUL.
inline constexpr size_t kMaxCommandBytes = 511;

// What the backend keeps for the client being served: the accepted socket on
// POSIX; on Windows the bookkeeping that lets a reply be released on a later
// frame instead of waiting for the client inside the frame.
struct PipeClient {
	PipeHandle handle = kInvalidPipe;
	bool discarding = false;   // reading away the rest of an over-long message
	bool releasing = false;    // reply written, waiting for the client to go
	int64_t release_deadline_ms = 0;
};

struct ControlPoll {
	enum Kind { Idle, Command, TooLong } kind = Idle;
	size_t length = 0; // bytes in the buffer for Command
};

// The channel's name as users and clients see it.
std::string ControlChannelName();

// Init: creates the listening instance, logging the outcome. kInvalidPipe on
// failure.
PipeHandle CreateControlChannel();

// RunFrame: at most one connect attempt and one read, never waiting. On
// Command, buffer holds the message NUL-terminated, exactly as received.
ControlPoll PollControlChannel(PipeHandle pipe, bool &connected, PipeClient &client, char (&buffer)[512]);

// End of every command: sends the reply and frees the instance for the next
// client without holding the frame for a client that does not read.
void ReplyAndRelease(PipeHandle pipe, bool &connected, PipeClient &client, const char *reply);

// Cleanup: drops any client and removes the channel.
void DestroyControlChannel(PipeHandle &pipe, bool &connected, PipeClient &client);

} // namespace zelvan
