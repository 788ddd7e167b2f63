// Polls `samples` and writes each reading as it comes, with the phase's
// label in a guided recording.
#include "tools/zelvan_ctl/tuning/sample_recorder.h"

#include <charconv>
#include <cstdint>
#include <sstream>
#include <string_view>
#include <utility>

#include "core/driver_settings.h"
#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/status_line.h"

namespace zelvan::ctl {
namespace {

// The driver's reply holds at most this many characters.
constexpr size_t kReplyLimit = 511;
// Fetches in one Collect before the rest waits for the next one: the driver
// keeps only seconds of readings, so a poll must not fall behind for long.
constexpr int kFetchesPerCollect = 64;
constexpr int kPollTries = 3;

template <typename Integer>
bool ParseWhole(std::string_view text, Integer &out)
{
	const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
	return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseEntry(std::string_view word, DriverSample &sample)
{
	const size_t first = word.find(':');
	const size_t second = first == std::string_view::npos ? first : word.find(':', first + 1);
	if (second == std::string_view::npos)
		return false;
	return ParseWhole(word.substr(0, first), sample.number) &&
	       ParseWhole(word.substr(first + 1, second - first - 1), sample.raw) &&
	       ParseWhole(word.substr(second + 1), sample.ms);
}

// A status value within the range of the header's field.
template <typename Field>
bool StatusValue(const nlohmann::json &status, const char *key, long long min, long long max, Field &out)
{
	if (!status.contains(key) || !status[key].is_number_integer())
		return false;
	const long long value = status[key].get<long long>();
	if (value < min || value > max)
		return false;
	out = static_cast<Field>(value);
	return true;
}

} // namespace

std::optional<SamplesReply> ParseSamplesReply(const std::string &reply)
{
	const std::string_view prefix = "OK next=";
	if (reply.rfind(prefix, 0) != 0)
		return std::nullopt;
	SamplesReply parsed;
	std::istringstream words(reply.substr(prefix.size()));
	std::string word;
	if (!(words >> word) || !ParseWhole(std::string_view(word), parsed.next))
		return std::nullopt;
	bool first = true;
	while (words >> word) {
		if (first && word.rfind("lost=", 0) == 0) {
			if (!ParseWhole(std::string_view(word).substr(5), parsed.lost))
				return std::nullopt;
		} else {
			DriverSample sample;
			if (!ParseEntry(word, sample))
				return std::nullopt;
			parsed.samples.push_back(sample);
		}
		first = false;
	}
	return parsed;
}

SampleRecorder::SampleRecorder(SendToDriver send) : send_(std::move(send)) {}

// The reply to `command`, or why there is none to read. A poll the driver
// does not answer in time (another program holding its channel, say) is
// sent again, up to kPollTries times in all: the driver keeps seconds of
// readings, so the next try loses none.
MaybeFailure SampleRecorder::Ask(const std::string &command, std::string &reply, bool poll)
{
	Exchange exchange = send_(command);
	for (int tries = 1; poll && exchange.outcome == Outcome::TimedOut && tries < kPollTries; ++tries)
		exchange = send_(command);
	if (poll && exchange.outcome == Outcome::TimedOut)
		return Because("the driver did not answer " + std::to_string(kPollTries) +
		               " polls in a row in time (another program may be holding its control channel, or the driver "
		               "is stalled)");
	if (exchange.outcome != Outcome::Replied)
		return NoReply(exchange);
	reply = exchange.reply;
	if (reply == "ERR unknown command")
		return Because("the running driver is older and has no samples command; update it");
	return std::nullopt;
}

namespace {

// The settings a changed status names, as " key OLD -> NEW" each; a key
// the status leaves out (the sensor's, while it is away) is no change, but
// an offset left out is 0.
std::string ChangedSettings(const RecordingHeader &header, const nlohmann::json &status)
{
	const std::pair<const char *, int64_t> recorded[] = {
		{"cal", header.cal},
		{"thresh", header.thresh},
		{"hyst", header.hyst},
		{"trim", header.trim},
		{"moving_avg_length", header.moving_avg_length},
		{"report_rate_ms", header.report_rate_ms},
		{"threshold_offset", header.threshold_offset}};
	std::string changed;
	for (const auto &[key, value] : recorded) {
		const auto it = status.find(key);
		const bool offset = std::string_view(key) == "threshold_offset";
		if (it == status.end() && !offset)
			continue;
		const int64_t now = it == status.end() ? 0 : it->is_number_integer() ? it->get<int64_t>() : INT64_MIN;
		if (now != value)
			changed += std::string(changed.empty() ? "" : ", ") + key + " from " + std::to_string(value) + " to " +
			           (now == INT64_MIN ? std::string("?") : std::to_string(now));
	}
	return changed;
}

} // namespace

MaybeFailure SampleRecorder::Finish(const RecordingHeader &header)
{
	std::string reply;
	if (MaybeFailure failure = Ask("status", reply, true))
		return failure;
	if (ClassifyReply(reply) != ReplyKind::Status)
		return Because("the driver's status is not understood: " + EscapeControlBytes(reply));
	const std::string changed = ChangedSettings(header, ReplyToJson(reply));
	if (!changed.empty())
		return Because("the driver's settings changed during the recording: " + changed +
		               " (a zelvan-ctl set meanwhile?)");
	return std::nullopt;
}

MaybeFailure SampleRecorder::Begin(RecordingHeader &header)
{
	std::string reply;
	if (MaybeFailure failure = Ask("status", reply))
		return failure;
	const nlohmann::json status = ReplyToJson(reply);
	if (ClassifyReply(reply) != ReplyKind::Status)
		return Because("the driver's status is not understood: " + EscapeControlBytes(reply));
	// Without a sensor reader, or before the sensor has been read, there is
	// no calibration and nothing to record.
	const std::string hid = status.value("hid", std::string("?"));
	if (!status.contains("cal") || hid != "open")
		return Because("the sensor is not connected (hid=" + EscapeControlBytes(hid) +
		               "); plug the headset in, wait for zelvan-ctl status to show hid=open, and try again");
	const bool complete = StatusValue(status, "cal", 0, 65535, header.cal) &&
	                      StatusValue(status, "thresh", 0, 65535, header.thresh) &&
	                      StatusValue(status, "hyst", 0, 65535, header.hyst) &&
	                      StatusValue(status, "trim", -32768, 32767, header.trim) &&
	                      StatusValue(status, "moving_avg_length", kMovingAvgLength.min, kMovingAvgLength.max,
	                                  header.moving_avg_length) &&
	                      StatusValue(status, "report_rate_ms", kReportRateMs.min, kReportRateMs.max,
	                                  header.report_rate_ms);
	// The settings' ranges are the driver's, which a recording's reader
	// holds to: a reply outside them would make a recording tune refuses.
	// The offset is left out of the status while it is 0.
	header.threshold_offset = 0;
	const bool offset_ok = !status.contains("threshold_offset") ||
	                       StatusValue(status, "threshold_offset", kThresholdOffset.min, kThresholdOffset.max,
	                                   header.threshold_offset);
	if (!complete || !offset_ok)
		return Because("the driver's status lacks the calibration or settings a recording needs: " +
		               EscapeControlBytes(reply));
	header.report_period_ms = static_cast<uint32_t>(header.report_rate_ms);

	if (MaybeFailure failure = Ask("samples", reply))
		return failure;
	const std::optional<SamplesReply> start = ParseSamplesReply(reply);
	if (!start)
		return Because("the driver's reply to samples is not understood: " + EscapeControlBytes(reply));
	next_ = start->next;
	return std::nullopt;
}

MaybeFailure SampleRecorder::Collect(std::ostream &file, const std::string &label)
{
	bool more = true;
	for (int i = 0; more && i < kFetchesPerCollect; ++i)
		if (MaybeFailure failure = Fetch(file, label, more))
			return failure;
	file.flush();
	if (!file)
		return Because("writing the recording failed (is the disk full?); it keeps what was written before");
	kept_bytes_ += unflushed_bytes_;
	unflushed_bytes_ = 0;
	return std::nullopt;
}

MaybeFailure SampleRecorder::Fetch(std::ostream &file, const std::string &label, bool &more)
{
	more = false;
	std::string reply;
	if (MaybeFailure failure = Ask("samples " + std::to_string(next_), reply, true))
		return failure;
	if (reply.rfind("ERR samples:", 0) == 0 && reply.find("ahead") != std::string::npos)
		return Because("the driver restarted during the recording (" + EscapeControlBytes(reply.substr(4)) +
		               "); the recording keeps the " + std::to_string(readings_) + " readings taken before");
	const std::optional<SamplesReply> parsed = ParseSamplesReply(reply);
	if (!parsed)
		return Because("the driver's reply to samples is not understood: " + EscapeControlBytes(reply));
	if (parsed->lost > 0) {
		if (lost_ == 0)
			warning_ = std::to_string(parsed->lost) +
			           " readings were lost (the driver no longer kept them); the recording goes on with a gap";
		lost_ += parsed->lost;
	}
	for (const DriverSample &sample : parsed->samples) {
		if (sample.number <= next_)
			continue; // one already written
		if (!first_ms_)
			first_ms_ = sample.ms;
		// Unsigned: the driver's clock may wrap during a recording.
		const std::string line = FormatRecordedReading({sample.ms - *first_ms_, sample.raw, label});
		file << line;
		unflushed_bytes_ += line.size();
		next_ = sample.number;
		++readings_;
	}
	if (parsed->next > next_)
		next_ = parsed->next;
	// A reply past half the limit may have been cut short (after a stall,
	// say): the rest is asked for at once rather than at the next poll.
	more = !parsed->samples.empty() && reply.size() > kReplyLimit / 2;
	return std::nullopt;
}

} // namespace zelvan::ctl
