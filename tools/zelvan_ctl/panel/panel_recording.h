// The panel's guided recording: RecordToFile on a thread of its own, so
// that the server's few threads stay free to answer the page's polls, and
// its events kept for GET /api/record.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/tuning/record_session.h"

namespace zelvan::ctl {

class PanelRecording {
public:
	PanelRecording() = default;
	PanelRecording(const PanelRecording &) = delete;
	PanelRecording &operator=(const PanelRecording &) = delete;
	// Cancels a recording that still runs and waits for its thread.
	~PanelRecording();

	// Starts `plan` (its file a full path) unless one runs; `name` is the
	// file's name as the page shows it, `channel` names the driver in the
	// failures' words. The last recording's events go.
	bool Start(RecordPlan plan, std::string name, SendToDriver send, std::string channel);
	// Asks the running recording to stop at its next poll, which then
	// removes its file; false when none runs.
	bool Cancel();
	// The panel's end: cancels and waits for the thread.
	void Stop();

	bool Running() const;
	// {"running", "file"} for the status.
	nlohmann::json Summary() const;
	// {"running", "file", "next", "events"}: the events numbered above `after`.
	nlohmann::json Events(uint64_t after) const;

private:
	void Run(RecordPlan plan, SendToDriver send, std::string channel);
	void Push(nlohmann::json event);

	mutable std::mutex mutex_;
	std::vector<nlohmann::json> events_;
	std::string name_;
	bool running_ = false;
	std::atomic<bool> cancel_{false};
	std::thread worker_;
};

} // namespace zelvan::ctl
