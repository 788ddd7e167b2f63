// How often the control channel logs refused clients: another user who
// connects in a loop must not fill the runtime's log, one line a frame.
#pragma once

#include <cstdint>

namespace zelvan {

// A uid's refusals after its first line are counted and logged at most this
// often.
inline constexpr int64_t kRefusalLogIntervalMs = 60000;

// A fixed table, so that counting a refusal never allocates in a frame.
class RefusalLog {
public:
	// Counts one refusal of `uid`. Returns the refusals the line to log now
	// covers, this one included (1 for a uid's first or a lone refusal), or
	// 0 when no line is due yet.
	unsigned Refused(unsigned uid, int64_t now_ms);

private:
	struct Entry {
		bool used = false;
		unsigned uid = 0;
		int64_t logged_ms = 0;  // when its last line was logged
		unsigned unlogged = 0;  // refusals since then
	};
	// More uids than this means root is playing; the least recently logged
	// one makes room, and logs a first line again when it comes back.
	Entry entries_[8];
};

} // namespace zelvan
