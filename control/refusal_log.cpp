// RefusalLog: one line for a uid's first refusal, then one a minute at most.
#include "control/refusal_log.h"

namespace zelvan {

unsigned RefusalLog::Refused(unsigned uid, int64_t now_ms)
{
	Entry *entry = nullptr;
	for (Entry &e : entries_)
		if (e.used && e.uid == uid)
			entry = &e;
	if (entry == nullptr) {
		entry = &entries_[0];
		for (Entry &e : entries_)
			if (!e.used || (entry->used && e.logged_ms < entry->logged_ms))
				entry = &e;
		*entry = Entry{true, uid, now_ms, 0};
		return 1;
	}
	++entry->unlogged;
	if (now_ms - entry->logged_ms < kRefusalLogIntervalMs)
		return 0;
	const unsigned count = entry->unlogged;
	entry->logged_ms = now_ms;
	entry->unlogged = 0;
	return count;
}

} // namespace zelvan
