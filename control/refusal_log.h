// How often the control channel logs refused clients: another user who
// connects in a loop must not fill the runtime's log, one line a frame.
#pragma once

#include <cstdint>

namespace zelvan {

// A uid's refusals after its first line are counted and logged at most this
// often.
inline constexpr int64_t kRefusalLogIntervalMs = 60000;

// Lines over all uids in one interval: many rotating uids (a user namespace
// has thousands) must not bring back a line a frame. Lines over this are
// counted into one summary line in the next interval.
inline constexpr unsigned kRefusalLinesPerInterval = 8;

// A fixed table, so that counting a refusal never allocates in a frame.
class RefusalLog {
public:
	// Counts one refusal of `uid`. Returns the refusals the line to log now
	// covers, this one included (1 for a uid's first or a lone refusal), or
	// 0 when no line is due yet or the interval's lines are spent.
	unsigned Refused(unsigned uid, int64_t now_ms);

	// After Refused: true, once, when the refusals left out of the last
	// interval's lines are to be logged in one line. `seconds` is the span
	// they fell in, from the first of them to `now_ms` (rounded up): the
	// summary comes with the next interval's first refusal, which may be
	// long after the interval ended.
	bool TakeSummary(int64_t now_ms, unsigned &refusals, unsigned &lines, unsigned &seconds);

private:
	// Counts `count` refusals that no line covers, made after `since_ms`.
	void LeaveOut(unsigned count, int64_t since_ms);

	struct Entry {
		bool used = false;
		unsigned uid = 0;
		int64_t logged_ms = 0;  // when its last line was logged
		unsigned unlogged = 0;  // refusals since then
	};
	// More uids than this means root is playing; the least recently logged
	// one makes room, and logs a first line again when it comes back.
	Entry entries_[8];

	bool interval_started_ = false;
	int64_t interval_start_ms_ = 0;
	unsigned lines_ = 0;            // logged in this interval
	unsigned left_out_ = 0;         // refusals whose line was left out
	unsigned left_out_lines_ = 0;   // lines left out
	int64_t first_left_out_ms_ = 0; // when the first of them was refused
	unsigned summary_refusals_ = 0; // of the last interval, still to log
	unsigned summary_lines_ = 0;
	int64_t summary_since_ms_ = 0;
};

} // namespace zelvan
