// Parsing and presenting the driver's reply lines.
#include "tools/zelvan_ctl/channel/status_line.h"

#include <charconv>
#include <sstream>

namespace zelvan::ctl {
namespace {

nlohmann::json Typed(const std::string &value)
{
	if (value == "true")
		return true;
	if (value == "false")
		return false;
	long long integer = 0;
	const char *end = value.data() + value.size();
	auto [p, ec] = std::from_chars(value.data(), end, integer);
	if (ec == std::errc() && p == end && !value.empty())
		return integer;
	return value;
}

void AddPairs(const std::string &text, nlohmann::json &out)
{
	std::istringstream words(text);
	std::string word;
	while (words >> word) {
		const size_t eq = word.find('=');
		if (eq != std::string::npos && eq > 0)
			out[word.substr(0, eq)] = Typed(word.substr(eq + 1));
	}
}

} // namespace

ReplyKind ClassifyReply(const std::string &reply)
{
	if (reply == "OK" || reply.rfind("OK ", 0) == 0)
		return ReplyKind::Ok;
	if (reply == "ERR" || reply.rfind("ERR ", 0) == 0)
		return ReplyKind::Error;
	if (reply.rfind("proximity=", 0) == 0)
		return ReplyKind::Status;
	return ReplyKind::Other;
}

nlohmann::json ReplyToJson(const std::string &reply)
{
	nlohmann::json out = nlohmann::json::object();
	const ReplyKind kind = ClassifyReply(reply);
	if (kind == ReplyKind::Ok || kind == ReplyKind::Error) {
		const size_t space = reply.find(' ');
		const std::string message = space == std::string::npos ? "" : reply.substr(space + 1);
		out["ok"] = kind == ReplyKind::Ok;
		out["message"] = message;
		if (kind == ReplyKind::Ok)
			AddPairs(message, out);
		return out;
	}
	if (kind == ReplyKind::Status) {
		AddPairs(reply, out);
		return out;
	}
	out["reply"] = reply;
	return out;
}

std::string WatchLine(const nlohmann::json &s)
{
	auto text = [&](const char *key) -> std::string {
		if (!s.contains(key))
			return "-";
		const auto &v = s[key];
		return v.is_string() ? v.get<std::string>() : v.dump();
	};
	std::ostringstream line;
	line << "presence=" << text("proximity") << " source=" << text("source");
	if (s.contains("hold_left_s"))
		line << " (for " << text("hold_left_s") << " s more)";
	line << " hid=" << text("hid");
	if (s.contains("averaged_prox") && s["eff_thresh"].is_number() && s["hyst"].is_number()) {
		const long long t = s["eff_thresh"].get<long long>();
		const long long h = s["hyst"].get<long long>();
		line << " raw=" << text("prox_raw") << " avg=" << text("averaged_prox") << " band=[" << (t - h > 0 ? t - h : 0)
		     << ".." << t + h << "] samples=" << text("samples");
	}
	return line.str();
}

} // namespace zelvan::ctl
