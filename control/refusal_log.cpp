// RefusalLog: one line for a uid's first refusal, then one a minute at most,
// and a few lines a minute over all uids.
#include "control/refusal_log.h"

#include <algorithm>
#include <cstdint>

namespace zelvan {

unsigned RefusalLog::Refused(unsigned uid, int64_t now_ms)
{
	if (!interval_started_ || now_ms - interval_start_ms_ >= kRefusalLogIntervalMs) {
		if (left_out_ > 0) {
			summary_refusals_ = left_out_;
			summary_lines_ = left_out_lines_;
			summary_since_ms_ = first_left_out_ms_;
		}
		interval_started_ = true;
		interval_start_ms_ = now_ms;
		lines_ = left_out_ = left_out_lines_ = 0;
	}
	Entry *entry = nullptr;
	for (Entry &e : entries_)
		if (e.used && e.uid == uid)
			entry = &e;
	unsigned count = 1;
	if (entry == nullptr) {
		entry = &entries_[0];
		for (Entry &e : entries_)
			if (!e.used || (entry->used && e.logged_ms < entry->logged_ms))
				entry = &e;
		// The refusals it had counted since its last line go into the
		// summary: no line covers them now.
		if (entry->used && entry->unlogged > 0)
			LeaveOut(entry->unlogged, entry->logged_ms);
		*entry = Entry{true, uid, now_ms, 0};
	} else {
		++entry->unlogged;
		if (now_ms - entry->logged_ms < kRefusalLogIntervalMs)
			return 0;
		count = entry->unlogged;
		entry->logged_ms = now_ms;
		entry->unlogged = 0;
	}
	if (lines_ < kRefusalLinesPerInterval) {
		++lines_;
		return count;
	}
	LeaveOut(count, now_ms);
	++left_out_lines_;
	return 0;
}

void RefusalLog::LeaveOut(unsigned count, int64_t since_ms)
{
	if (left_out_ == 0 || since_ms < first_left_out_ms_)
		first_left_out_ms_ = since_ms;
	left_out_ += count;
}

bool RefusalLog::TakeSummary(int64_t now_ms, unsigned &refusals, unsigned &lines, unsigned &seconds)
{
	if (summary_refusals_ == 0)
		return false;
	refusals = summary_refusals_;
	lines = summary_lines_;
	const int64_t span_ms = now_ms > summary_since_ms_ ? now_ms - summary_since_ms_ : 0;
	seconds = static_cast<unsigned>(std::min<int64_t>((span_ms + 999) / 1000, UINT32_MAX));
	summary_refusals_ = summary_lines_ = 0;
	return true;
}

} // namespace zelvan
