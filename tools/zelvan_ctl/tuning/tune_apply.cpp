// A set counts as taken only when the driver says it holds the value now.
#include "tools/zelvan_ctl/tuning/tune_apply.h"

#include <cstdint>
#include <cstring>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/status_line.h"

namespace zelvan::ctl {
namespace {

std::string CalibrationText(int64_t cal, int64_t thresh, int64_t hyst, int64_t trim)
{
	return "cal=" + std::to_string(cal) + " thresh=" + std::to_string(thresh) + " hyst=" + std::to_string(hyst) +
	       " trim=" + std::to_string(trim);
}

int64_t Field(const nlohmann::json &status, const char *key, int64_t fallback)
{
	const auto it = status.find(key);
	return it != status.end() && it->is_number_integer() ? it->get<int64_t>() : fallback;
}

// One set command replacing `now` (INT64_MIN: not in the status); nothing
// when the driver took it.
MaybeFailure Set(const std::string &key, int64_t now, int32_t value, const SendToDriver &send, ApplyOutcome &outcome,
                 const std::function<void(const std::string &)> &as_confirmed)
{
	const std::string command = "set " + key + " " + std::to_string(value);
	const Exchange exchange = send(command);
	if (exchange.outcome != Outcome::Replied)
		return NoReply(exchange);
	const std::string reply = EscapeControlBytes(exchange.reply);
	if (exchange.reply == "OK " + key + "=" + std::to_string(value)) {
		const std::string line = key + " " + (now == INT64_MIN ? std::string("?") : std::to_string(now)) + " -> " +
		                         std::to_string(value) + ": " + reply;
		outcome.confirmed.push_back(line);
		if (as_confirmed)
			as_confirmed(line);
		return std::nullopt;
	}
	if (exchange.reply.rfind("ERR unknown command", 0) == 0)
		return Because("the running driver is older and has no set command; update it");
	if (ClassifyReply(exchange.reply) == ReplyKind::Error)
		return Because("the driver refused " + command + ": " + reply);
	return Because("the driver did not confirm " + command + " (it replied '" + reply + "')");
}

} // namespace

ApplyOutcome ApplySettings(const RecordingHeader &h, const TuneSettings &settings, bool keep,
                           const SendToDriver &send, const std::function<void(const std::string &line)> &as_confirmed)
{
	ApplyOutcome outcome;
	const Exchange exchange = send("status");
	if (exchange.outcome != Outcome::Replied) {
		outcome.failure = NoReply(exchange);
		return outcome;
	}
	if (ClassifyReply(exchange.reply) == ReplyKind::Error) {
		outcome.failure = Because(EscapeControlBytes(exchange.reply));
		return outcome;
	}
	const nlohmann::json status = ReplyToJson(exchange.reply);
	for (const char *key : {"cal", "thresh", "hyst", "trim"}) {
		if (Field(status, key, -1000000) == -1000000) {
			outcome.failure = Because(std::string("the driver has no sensor connected (its status shows no ") + key +
			                          "); nothing applied");
			return outcome;
		}
	}
	const std::string driver = CalibrationText(Field(status, "cal", 0), Field(status, "thresh", 0),
	                                           Field(status, "hyst", 0), Field(status, "trim", 0));
	const std::string recorded = CalibrationText(h.cal, h.thresh, h.hyst, h.trim);
	if (driver != recorded) {
		outcome.failure = Because("the sensor's calibration differs from the recording's; nothing applied\n"
		                          "  sensor:    " + driver + "\n  recording: " + recorded);
		return outcome;
	}
	const std::pair<const char *, int32_t> wanted[] = {{"report_rate_ms", settings.report_rate_ms},
	                                                   {"moving_avg_length", settings.moving_avg_length},
	                                                   {"threshold_offset", settings.threshold_offset}};
	for (const auto &[key, value] : wanted) {
		// An absent threshold_offset is 0; an absent setting is sent anyway.
		const int64_t now = Field(status, key, std::strcmp(key, "threshold_offset") == 0 ? 0 : INT64_MIN);
		if (now == value)
			continue;
		// Keeping sends nothing: the settings in force stay, even when they
		// are not those the recording was made with.
		if (keep) {
			outcome.differs += " " + std::string(key) + "=" + (now == INT64_MIN ? "?" : std::to_string(now));
			continue;
		}
		if ((outcome.failure = Set(key, now, value, send, outcome, as_confirmed)))
			return outcome;
		outcome.applied += " " + std::string(key) + "=" + std::to_string(value);
	}
	outcome.already = outcome.confirmed.empty();
	return outcome;
}

} // namespace zelvan::ctl
