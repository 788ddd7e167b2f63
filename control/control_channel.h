// The control channel's platform seam: a local, single-instance, message
// oriented channel that the runtime's thread polls once per frame. Windows
// serves a named pipe, POSIX an abstract-namespace SOCK_SEQPACKET socket.
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

// A client that has sent no command this long after connecting is dropped
// without a reply, so it cannot hold the single instance.
inline constexpr int64_t kIdleClientMs = 2000;

// While another process holds the channel's name (often a SteamVR that is
// still shutting down), creation is tried again this often.
inline constexpr int64_t kChannelRetryMs = 5000;

// What the backend keeps for the client being served: the accepted socket on
// POSIX; on Windows the bookkeeping that lets a reply be released on a later
// frame instead of waiting for the client inside the frame.
struct PipeClient {
	PipeHandle handle = kInvalidPipe;
	bool discarding = false;   // reading away the rest of an over-long message
	bool releasing = false;    // reply written, waiting for the client to go
	int64_t release_deadline_ms = 0;
	int64_t idle_deadline_ms = 0;  // dropped unless a command came by then
};

struct ControlPoll {
	enum Kind { Idle, Command, TooLong } kind = Idle;
	size_t length = 0; // bytes in the buffer for Command
};

// The channel's name as users and clients see it: the pipe's path on
// Windows, "@" and the abstract socket name on POSIX. Tests give each run a
// name of its own through the ZELVAN_TEST_CHANNEL environment variable.
std::string ControlChannelName();

// Init and the retries from RunFrame: creates the listening instance without
// waiting and logs its name. kInvalidPipe on failure, with the platform's
// error code in `error` for the caller to log.
PipeHandle CreateControlChannel(unsigned long &error);

// Whether a creation error means that another process holds the name.
bool ControlChannelNameInUse(unsigned long error);

// RunFrame: at most one connect attempt and one read, never waiting. On
// Command, buffer holds the message NUL-terminated, exactly as received.
ControlPoll PollControlChannel(PipeHandle pipe, bool &connected, PipeClient &client, char (&buffer)[512]);

// End of every command: sends the reply and frees the instance for the next
// client without holding the frame for a client that does not read.
void ReplyAndRelease(PipeHandle pipe, bool &connected, PipeClient &client, const char *reply);

// Cleanup: drops any client and removes the channel.
void DestroyControlChannel(PipeHandle &pipe, bool &connected, PipeClient &client);

} // namespace zelvan
