// The control channel's platform seam: a local, single-instance, message
// oriented channel that the runtime's thread polls once per frame. Windows
// serves a named pipe, POSIX a Unix-domain SOCK_SEQPACKET socket.
#pragma once

#include <cstdint>

namespace zelvan {

// A Windows HANDLE or a file descriptor; all bits set means none.
using PipeHandle = std::intptr_t;
inline constexpr PipeHandle kInvalidPipe = -1;

} // namespace zelvan
