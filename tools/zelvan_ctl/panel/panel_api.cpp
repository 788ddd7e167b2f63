// The panel's endpoints: requests checked strictly, then the command line's
// own functions, their answers as JSON.
#include "tools/zelvan_ctl/panel/panel_api.h"

#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/zelvan_ctl/channel/proximity_command.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/tuning/sample_recorder.h"

namespace zelvan::ctl {
namespace {

using nlohmann::json;

// Bytes from the driver that are not UTF-8 become U+FFFD, not an exception.
ApiReply Json(const json &value)
{
	return {200, value.dump(-1, ' ', false, json::error_handler_t::replace)};
}

ApiReply Refuse(std::string reason)
{
	return {400, std::move(reason)};
}

// The body as an object whose keys are all among `known`; null otherwise.
json ObjectBody(const std::string &body, std::initializer_list<const char *> known, std::string &error)
{
	json parsed = json::parse(body, nullptr, false);
	if (parsed.is_discarded() || !parsed.is_object()) {
		error = "the body is not a JSON object";
		return nullptr;
	}
	for (const auto &item : parsed.items()) {
		bool found = false;
		for (const char *key : known)
			found = found || item.key() == key;
		if (!found) {
			error = "unknown field";
			return nullptr;
		}
	}
	return parsed;
}

// A duration as the command line passes it on: digits, then s, m or h at
// most; the driver checks the range.
bool DurationWord(const std::string &text)
{
	size_t digits = 0;
	while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
		++digits;
	if (digits == 0 || digits > 6)
		return false;
	return digits == text.size() ||
	       (digits + 1 == text.size() && (text[digits] == 's' || text[digits] == 'm' || text[digits] == 'h'));
}

} // namespace

PanelApi::PanelApi(SendToDriver send, std::string channel, std::chrono::milliseconds timeout)
    : send_(std::move(send)), channel_(std::move(channel)), timeout_(timeout)
{
}

ApiReply PanelApi::Status(uint64_t refused) const
{
	const Exchange exchange = send_("status");
	const bool reachable = exchange.outcome == Outcome::Replied;
	return Json({{"reachable", reachable},
	             {"status", reachable ? ReplyToJson(exchange.reply) : json(nullptr)},
	             {"why", reachable ? std::string() : WhyNoReply(exchange, channel_)},
	             {"refused", refused}});
}

ApiReply PanelApi::Samples(const std::string *after) const
{
	std::string command = "samples";
	if (after != nullptr) {
		uint32_t number = 0;
		const char *end = after->data() + after->size();
		const auto parsed = std::from_chars(after->data(), end, number);
		if (after->empty() || parsed.ec != std::errc() || parsed.ptr != end || (*after)[0] == '+')
			return Refuse("after is a reading's number");
		command += " " + std::to_string(number);
	}
	const Exchange exchange = send_(command);
	if (exchange.outcome != Outcome::Replied)
		return Json({{"error", WhyNoReply(exchange, channel_)}});
	if (exchange.reply == "ERR unknown command")
		return Json({{"error", "the running driver is older and has no samples command; update it"}});
	const auto reply = ParseSamplesReply(exchange.reply);
	if (!reply)
		return Json({{"error", exchange.reply}});
	json samples = json::array();
	for (const DriverSample &sample : reply->samples)
		samples.push_back({sample.number, sample.raw, sample.ms});
	return Json({{"next", reply->next}, {"lost", reply->lost}, {"samples", std::move(samples)}});
}

ApiReply PanelApi::Presence(const std::string &body) const
{
	std::string error;
	const json request = ObjectBody(body, {"mode", "persist", "for"}, error);
	if (request.is_null())
		return Refuse(error);
	const auto mode = request.find("mode");
	if (mode == request.end() || !mode->is_string() ||
	    (*mode != "on" && *mode != "off" && *mode != "auto"))
		return Refuse("mode is on, off or auto");
	const auto persist = request.find("persist");
	if (persist != request.end() && !persist->is_boolean())
		return Refuse("persist is true or false");
	const auto hold = request.find("for");
	if (hold != request.end() && (!hold->is_string() || !DurationWord(hold->get<std::string>())))
		return Refuse("for is seconds, or a whole number with s, m or h (90s, 10m, 2h)");
	std::vector<std::string> words;
	if (!ProximityCommand(mode->get<std::string>(), persist != request.end() && persist->get<bool>(),
	                      hold != request.end(), hold != request.end() ? hold->get<std::string>() : "", words,
	                      error))
		return Refuse(error);
	std::string command;
	for (const std::string &word : words)
		command += (command.empty() ? "" : " ") + word;
	const Exchange exchange = send_(command);
	if (exchange.outcome != Outcome::Replied)
		return Json({{"ok", false}, {"reply", WhyNoReply(exchange, channel_)}});
	return Json({{"ok", ClassifyReply(exchange.reply) != ReplyKind::Error}, {"reply", exchange.reply}});
}

ApiReply PanelApi::Ipd(const std::string &body) const
{
	std::string error;
	const json request = ObjectBody(body, {"mm"}, error);
	if (request.is_null())
		return Refuse(error);
	const auto mm = request.find("mm");
	if (mm == request.end() || !mm->is_number())
		return Refuse("mm is a number");
	const double value = mm->get<double>();
	if (!(value >= 48.0 && value <= 75.0))
		return Refuse("mm is 48 to 75");
	// The shortest text that reads back as the number, whatever the locale.
	char text[32];
	const auto written = std::to_chars(text, text + sizeof(text), value);
	const Exchange exchange = send_("ipd " + std::string(text, written.ptr));
	if (exchange.outcome != Outcome::Replied)
		return Json({{"ok", false}, {"reply", WhyNoReply(exchange, channel_)}});
	return Json({{"ok", ClassifyReply(exchange.reply) != ReplyKind::Error}, {"reply", exchange.reply}});
}

ApiReply PanelApi::Doctor() const
{
	return Json(FindingsJson(Examine(channel_, timeout_)));
}

} // namespace zelvan::ctl
