// The simulated sensor's firmware: the timed stream of sample reports and the command replies.
#include "sim_device.h"
#include "sim_files.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

namespace zelvan::sim {
namespace {

constexpr size_t kReplyQueueLimit = 64; // an input buffer that nobody reads overflows

// Floor and ceiling of a / b for b > 0, also for negative a.
int64_t FloorDiv(int64_t a, int64_t b)
{
	return a >= 0 ? a / b : -((-a + b - 1) / b);
}

int64_t CeilDiv(int64_t a, int64_t b)
{
	return -FloorDiv(-a, b);
}

} // namespace

// ---- the sample stream ------------------------------------------------------

const Window *SimSensor::SilenceAt(Clock::time_point t) const
{
	for (const Window &w : config_->silences)
		if (t >= At(w.start_ms) && t < At(w.start_ms + w.duration_ms))
			return &w;
	return nullptr;
}

// The latest sample that has come due and not been taken, if any. Samples
// that came due while nobody read are dropped in its favour; those that fall
// in a silence are never sent.
std::optional<int64_t> SimSensor::DueSample(hid_device *device, Clock::time_point now)
{
	if (streaming_held_)
		return std::nullopt;
	const int64_t period = Period().count();
	const int64_t first = device->next_index;
	const int64_t last_due = FloorDiv((now - device->anchor).count(), period);
	if (last_due < first)
		return std::nullopt;
	device->next_index = last_due + 1;
	for (int64_t k = last_due; k >= first;) {
		const Window *w = SilenceAt(device->anchor + k * Period());
		if (w == nullptr)
			return k;
		k = CeilDiv((At(w->start_ms) - device->anchor).count(), period) - 1;
	}
	return std::nullopt;
}

Clock::time_point SimSensor::NextSample(const hid_device *device) const
{
	if (streaming_held_)
		return Clock::time_point::max();
	const int64_t period = Period().count();
	int64_t k = device->next_index;
	while (const Window *w = SilenceAt(device->anchor + k * Period()))
		k = CeilDiv((At(w->start_ms + w->duration_ms) - device->anchor).count(), period);
	return device->anchor + k * Period();
}

std::vector<uint8_t> SimSensor::SampleReport(Clock::time_point at)
{
	const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - *scenario_start_).count();
	const uint64_t index = samples_sent_++;
	std::optional<unsigned> level = level_override_;
	if (!level)
		level = FollowedLevel(Clock::now());
	const unsigned raw = level ? config_->levels.AddNoise(*level) : config_->levels.Sample(ms, index);
	std::vector<uint8_t> report(kReportSize, 0);
	report[0] = '#';
	report[1] = static_cast<uint8_t>(index >> 16); // a running counter, as the firmware sends
	report[2] = static_cast<uint8_t>(index >> 8);
	report[3] = static_cast<uint8_t>(index);
	report[4] = static_cast<uint8_t>(raw >> 8);
	report[5] = static_cast<uint8_t>(raw);
	if (config_->short_samples)
		report.resize(5);
	return report;
}

// A script or test playing the wearer writes the file at any moment; reading
// it at most every few milliseconds keeps a fast stream cheap. What is not
// yet "on" or "off" ("o", "of": a write caught half-way) changes nothing.
std::optional<unsigned> SimSensor::FollowedLevel(Clock::time_point now)
{
	if (config_->follow_path.empty())
		return std::nullopt;
	if (!follow_read_at_ || now - *follow_read_at_ >= std::chrono::milliseconds(20)) {
		follow_read_at_ = now;
		std::string text;
		if (std::FILE *file = OpenUtf8File(config_->follow_path, "rb")) {
			char buffer[64];
			text.assign(buffer, std::fread(buffer, 1, sizeof(buffer), file));
			std::fclose(file);
		}
		while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
			text.pop_back();
		if (text != follow_text_) {
			follow_text_ = text;
			if (text == "on" || text == "off") {
				followed_on_ = text == "on";
				Event(std::string("follow ") + text, now);
			} else if (!text.empty() && std::string_view("off").substr(0, text.size()) != text) {
				// Whatever the file holds goes to a terminal: no control bytes.
				std::string shown = text;
				for (char &c : shown)
					c = static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
				std::fprintf(stderr, "sim_sensor: %s: follow wants on or off, not '%s'\n", config_->follow_path.c_str(),
				             shown.c_str());
			}
		}
	}
	if (!followed_on_)
		return std::nullopt;
	return *followed_on_ ? config_->on_level : config_->off_level;
}

// ---- commands ---------------------------------------------------------------

void SimSensor::Queue(hid_device *device, std::vector<uint8_t> reply, unsigned delay_ms, bool interleave, Clock::time_point now,
                      bool full_report)
{
	const Clock::time_point ready = now + std::chrono::milliseconds(delay_ms);
	if (interleave)
		for (unsigned i = 0; i < config_->interleave_samples; ++i)
			device->replies.push_back({SampleReport(now), ready});
	if (full_report)
		reply.resize(std::max(reply.size(), kReportSize), 0);
	device->replies.push_back({std::move(reply), ready});
	while (device->replies.size() > kReplyQueueLimit)
		device->replies.pop_front();
	changed_.notify_all();
}

void SimSensor::RateCommand(hid_device *device, const unsigned char *params, Clock::time_point now)
{
	const unsigned period = static_cast<unsigned>(params[0] << 8 | params[1]);
	const ReplyRule &rule = config_->rate_reply;
	const bool interleave = config_->interleave_rate;
	// The firmware refuses a period of 0 and keeps the one it had.
	if (rule.kind == ReplyRule::Kind::Error || period == 0) {
		Event("reply E R", now);
		Queue(device, {'E', 'R', params[0], params[1]}, rule.delay_ms, interleave, now);
		return;
	}
	period_ms_ = period;
	streaming_held_ = false;
	for (hid_device *h : handles_) {
		h->anchor = now;
		h->next_index = 1;
	}
	if (rule.kind == ReplyRule::Kind::None) {
		Event("noreply R", now);
		return;
	}
	Event("reply $", now);
	Queue(device, {'$', params[0], params[1]}, rule.delay_ms, interleave, now);
}

void SimSensor::BlockCommand(hid_device *device, unsigned block, Clock::time_point now)
{
	const bool interleave = config_->interleave_blocks;
	const std::string name = "U " + std::to_string(block);
	if (block >= kBlockCount) {
		Event("reply E " + name, now);
		Queue(device, {'E', 'U', static_cast<uint8_t>(block)}, 0, interleave, now);
		return;
	}
	const ReplyRule &rule = config_->block_replies[block];
	if (rule.kind == ReplyRule::Kind::None) {
		Event("noreply " + name, now);
		return;
	}
	if (rule.kind == ReplyRule::Kind::Error) {
		Event("reply E " + name, now);
		Queue(device, {'E', 'U', static_cast<uint8_t>(block)}, rule.delay_ms, interleave, now);
		return;
	}
	const unsigned length = rule.length.value_or(kBlockSize);
	// A length past one block reads on into the next ones, as a firmware
	// that trusts its own length byte would.
	const size_t carried = std::min<size_t>(rule.delivered.value_or(length), kReportSize - 2);
	std::vector<uint8_t> reply{'U', static_cast<uint8_t>(length)};
	for (size_t i = 0; i < carried; ++i) {
		const size_t offset = block * kBlockSize + i;
		reply.push_back(offset < kImageSize ? config_->image[offset] : 0xFF);
	}
	std::string event = "reply " + name;
	if (length != kBlockSize)
		event += " L=" + std::to_string(length);
	if (rule.delivered)
		event += " bytes=" + std::to_string(reply.size());
	Event(event, now);
	// A reply cut short: the read returns only what was carried.
	Queue(device, std::move(reply), rule.delay_ms, interleave, now, !rule.delivered);
}

} // namespace zelvan::sim
