// Configuration keywords that shape the simulated firmware's reports: command replies and samples.
#include "sim_config_parser.h"

#include <string>

namespace zelvan::sim::config_parser {

// A 'U' reply is one 64-byte input report: 'U', L, then at most 62 bytes.
constexpr unsigned kMaxReplyPayload = 62;

bool Parser::Reply(const Line &line, size_t from, bool block, ReplyRule &rule)
{
	ReplyRule r;
	bool kind_given = false;
	for (size_t i = from; i < line.words.size(); ++i) {
		const std::string w = Lower(line.words[i]);
		const size_t eq = w.find('=');
		const std::string key = w.substr(0, eq);
		const std::string value = eq == std::string::npos ? "" : w.substr(eq + 1);
		std::optional<int64_t> n;
		if (eq != std::string::npos)
			n = ToInteger(value, false);
		if (eq == std::string::npos && (w == "ok" || w == "error" || w == "none")) {
			if (kind_given) {
				Error(line.number, "more than one of ok, error and none");
				return false;
			}
			kind_given = true;
			r.kind = w == "ok" ? ReplyRule::Kind::Normal : w == "error" ? ReplyRule::Kind::Error : ReplyRule::Kind::None;
		} else if (key == "delay" && n && *n <= 600000) {
			r.delay_ms = static_cast<unsigned>(*n);
		} else if (block && key == "length" && n && *n <= 255) {
			r.length = static_cast<unsigned>(*n);
		} else if (block && key == "short" && n && *n <= kMaxReplyPayload) {
			r.delivered = static_cast<unsigned>(*n);
		} else {
			Error(line.number, "'" + line.words[i] + "' is not a reply (" +
			                       (block ? "ok, error, none, length=0..255, short=0..62" : "ok, error, none") + ", delay=MS)");
			return false;
		}
	}
	if (r.kind != ReplyRule::Kind::Normal && (r.length || r.delivered)) {
		Error(line.number, "length= and short= shape a reply; error and none send none");
		return false;
	}
	rule = r;
	return true;
}

void Parser::OnRateReply(const Line &line)
{
	Reply(line, 1, false, config_.rate_reply);
}

void Parser::OnBlockReply(const Line &line)
{
	std::optional<int64_t> block;
	if (Lower(line.words[1]) != "all" && !(block = Number(line, 1, 0, static_cast<int64_t>(kBlockCount) - 1, "the block")))
		return;
	ReplyRule rule;
	if (!Reply(line, 2, true, rule))
		return;
	for (size_t b = 0; b < kBlockCount; ++b)
		if (!block || static_cast<size_t>(*block) == b)
			config_.block_replies[b] = rule;
}

void Parser::OnInterleaveSamples(const Line &line)
{
	const auto n = Number(line, 1, 0, 1000, "the count");
	if (!n)
		return;
	config_.interleave_samples = static_cast<unsigned>(*n);
	const std::string which = line.words.size() > 2 ? Lower(line.words[2]) : "blocks";
	if (which != "blocks" && which != "rate" && which != "all") {
		Error(line.number, "interleave_samples applies to blocks, rate or all, not '" + line.words[2] + "'");
		return;
	}
	config_.interleave_blocks = which != "rate";
	config_.interleave_rate = which != "blocks";
}

void Parser::OnShortSamples(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.short_samples = *v;
}

} // namespace zelvan::sim::config_parser
