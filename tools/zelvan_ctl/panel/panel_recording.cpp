// The guided recording's worker and its events, as the page reads them.
#include "tools/zelvan_ctl/panel/panel_recording.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

using nlohmann::json;

// What the command line would say about `failure`.
std::string FailureWords(const Failure &failure, const std::string &channel)
{
	return failure.no_reply ? WhyNoReply(*failure.no_reply, channel) : failure.message;
}

// One of RecordToFile's events as the page reads it; null for those of a
// plain recording, which the panel does not make.
json EventJson(const RecordEvent &e, const std::string &channel)
{
	using Kind = RecordEvent::Kind;
	switch (e.kind) {
	case Kind::Guided:
		return {{"kind", "guided"}, {"rounds", kGuidedRounds}, {"seconds", e.seconds}};
	case Kind::Round:
		return {{"kind", "round"}, {"round", e.round}, {"rounds", kGuidedRounds}, {"on", e.on}};
	case Kind::CountDown:
		return {{"kind", "count_down"}, {"left", e.left}};
	case Kind::Now:
		return {{"kind", "now"}, {"on", e.on}, {"seconds", e.seconds}};
	case Kind::PhaseEnd:
		return {{"kind", "phase_end"}, {"readings", e.readings}};
	case Kind::Warning:
		return {{"kind", "warning"}, {"text", e.text}};
	case Kind::Failed:
		return {{"kind", "failed"}, {"text", FailureWords(*e.failure, channel)}};
	case Kind::Worn:
	case Kind::Second:
	case Kind::Ended:
		break;
	}
	return nullptr;
}

} // namespace

PanelRecording::~PanelRecording()
{
	Stop();
}

bool PanelRecording::Start(RecordPlan plan, std::string name, SendToDriver send, std::string channel)
{
	std::lock_guard lock(mutex_);
	if (running_)
		return false;
	// The last one has ended: its thread only has to be collected.
	if (worker_.joinable())
		worker_.join();
	events_.clear();
	name_ = std::move(name);
	running_ = true;
	cancel_ = false;
	worker_ = std::thread(&PanelRecording::Run, this, std::move(plan), std::move(send), std::move(channel));
	return true;
}

bool PanelRecording::Cancel()
{
	std::lock_guard lock(mutex_);
	if (running_)
		cancel_ = true;
	return running_;
}

void PanelRecording::Stop()
{
	cancel_ = true;
	std::thread worker;
	{
		std::lock_guard lock(mutex_);
		worker = std::move(worker_);
	}
	if (worker.joinable())
		worker.join();
}

bool PanelRecording::Running() const
{
	std::lock_guard lock(mutex_);
	return running_;
}

json PanelRecording::Summary() const
{
	std::lock_guard lock(mutex_);
	return {{"running", running_}, {"file", name_.empty() ? json(nullptr) : json(name_)}};
}

json PanelRecording::Events(uint64_t after) const
{
	std::lock_guard lock(mutex_);
	json events = json::array();
	for (uint64_t n = after; n < events_.size(); ++n)
		events.push_back(events_[n]);
	return {{"running", running_},
	        {"file", name_.empty() ? json(nullptr) : json(name_)},
	        {"next", events_.size()},
	        {"events", std::move(events)}};
}

void PanelRecording::Push(json event)
{
	std::lock_guard lock(mutex_);
	event["n"] = events_.size() + 1;
	events_.push_back(std::move(event));
}

// Once cancel is asked, every exchange fails at once: the recording stops
// at its next poll, through the same road as a driver that went away.
void PanelRecording::Run(RecordPlan plan, SendToDriver send, std::string channel)
{
	std::atomic<bool> refused{false};
	const SendToDriver cancellable = [this, &send, &refused](const std::string &command) {
		if (cancel_) {
			refused = true;
			return Exchange{Outcome::Failed, "the recording was cancelled", -1};
		}
		return send(command);
	};
	const RecordOutcome outcome = RecordToFile(plan, cancellable, [&](const RecordEvent &event) {
		if (refused && event.kind == RecordEvent::Kind::Failed)
			return;
		if (json shown = EventJson(event, channel); !shown.is_null())
			Push(std::move(shown));
	});
	if (refused) {
		// Only a file this recording made: one that failed before making it
		// leaves whatever is at the name alone.
		std::error_code ignored;
		if (outcome.stopped_partway)
			std::filesystem::remove(Utf8Path(plan.file), ignored);
		Push({{"kind", "cancelled"}});
	} else if (!outcome.failure) {
		Push({{"kind", "done"}, {"readings", outcome.readings}, {"lost", outcome.lost}, {"file", name_}});
	}
	std::lock_guard lock(mutex_);
	running_ = false;
}

} // namespace zelvan::ctl
