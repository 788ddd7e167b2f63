// HandleControlCommand: one control message in, one reply line out.
#pragma once

#include <cstddef>

namespace zelvan {

class DeviceProvider;

inline constexpr size_t kReplySize = 512;

// Carries out one command on the runtime's thread and formats its reply.
void ExecuteControlCommand(DeviceProvider &provider, const char *text, char (&reply)[kReplySize]);

// Called by the channel poll for every message: executes it, sends the reply
// and releases the connection.
void HandleControlCommand(DeviceProvider &provider, const char *text);

} // namespace zelvan
