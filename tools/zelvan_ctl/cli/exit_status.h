// zelvan-ctl's exit statuses, the same for every command.
#pragma once

namespace zelvan::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;    // an ERR reply, or a file or check that failed
inline constexpr int kExitNoDriver = 2; // nothing answers, or the channel is another user's
inline constexpr int kExitTimeout = 3;
inline constexpr int kExitUsage = 64;

} // namespace zelvan::ctl
