// Parser of the simulated sensor's configuration text: the line reader, the keyword table, the device keywords.
#include "sim_config.h"
#include "sim_files.h"
#include "sim_config_parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <limits>
#include <sstream>

namespace zelvan::sim {
namespace config_parser {

constexpr size_t kAny = std::numeric_limits<size_t>::max();

bool IsSpace(char c)
{
	return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// '#' starts a comment at the start of a line or after a blank, so a
// serial number may still contain one.
std::string StripComment(const std::string &line)
{
	for (size_t i = 0; i < line.size(); ++i)
		if (line[i] == '#' && (i == 0 || IsSpace(line[i - 1])))
			return line.substr(0, i);
	return line;
}

std::string TrimBlanks(const std::string &s)
{
	size_t begin = 0;
	size_t end = s.size();
	while (begin < end && IsSpace(s[begin]))
		++begin;
	while (end > begin && IsSpace(s[end - 1]))
		--end;
	return s.substr(begin, end - begin);
}

std::vector<std::string> Split(const std::string &s)
{
	std::vector<std::string> words;
	std::istringstream in(s);
	for (std::string w; in >> w;)
		words.push_back(w);
	return words;
}

std::string Lower(std::string s)
{
	for (char &c : s)
		c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
	return s;
}

// Decimal, or hexadecimal after 0x; a leading '-' only where allowed.
std::optional<int64_t> ToInteger(const std::string &word, bool allow_negative)
{
	std::string_view s = word;
	bool negative = false;
	if (allow_negative && !s.empty() && s[0] == '-') {
		negative = true;
		s.remove_prefix(1);
	}
	int base = 10;
	if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
		base = 16;
		s.remove_prefix(2);
	}
	int64_t value = 0;
	const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
	if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0)
		return std::nullopt;
	return negative ? -value : value;
}

std::optional<bool> ToBool(const std::string &word)
{
	const std::string w = Lower(word);
	if (w == "yes" || w == "on" || w == "true" || w == "1")
		return true;
	if (w == "no" || w == "off" || w == "false" || w == "0")
		return false;
	return std::nullopt;
}

// Each word is an even run of hex digits ("DC", "DC05", "0xDC").
bool ToHexBytes(const std::vector<std::string> &words, size_t from, std::vector<uint8_t> &out, std::string &bad)
{
	for (size_t i = from; i < words.size(); ++i) {
		std::string_view w = words[i];
		if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X'))
			w.remove_prefix(2);
		if (w.empty() || w.size() % 2 != 0 || !std::all_of(w.begin(), w.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
			bad = words[i];
			return false;
		}
		for (size_t j = 0; j < w.size(); j += 2)
			out.push_back(static_cast<uint8_t>(std::stoi(std::string(w.substr(j, 2)), nullptr, 16)));
	}
	return true;
}

const Parser::Rule Parser::kRules[] = {
	{"present", 1, 1, &Parser::OnPresent},
	{"fail_init", 1, 1, &Parser::OnFailInit},
	{"usb_id", 1, 1, &Parser::OnUsbId},
	{"absent_until", 1, 1, &Parser::OnAbsentUntil},
	{"fail_reads", 1, 1, &Parser::OnFailReads},
	{"fail_features", 1, 1, &Parser::OnFailFeatures},
	{"refuse_open", 1, 1, &Parser::OnRefuseOpen},
	{"stall_after_plug", 1, 1, &Parser::OnStallAfterPlug},
	{"reads_do_not_wait", 1, 1, &Parser::OnReadsDoNotWait},
	{"cal", 1, 1, &Parser::OnCal},
	{"thresh", 1, 1, &Parser::OnThresh},
	{"hyst", 1, 1, &Parser::OnHyst},
	{"trim", 1, 1, &Parser::OnTrim},
	{"tracking_serial", 0, kAny, &Parser::OnTrackingSerial},
	{"hmd_serial", 0, kAny, &Parser::OnHmdSerial},
	{"record", 1, kAny, &Parser::OnRecord},
	{"record_bad_crc", 1, kAny, &Parser::OnRecordBadCrc},
	{"raw", 1, kAny, &Parser::OnRaw},
	{"image_hex", 1, kAny, &Parser::OnImageHex},
	{"image_fill", 1, 1, &Parser::OnImageFill},
	{"end_marker", 1, 1, &Parser::OnEndMarker},
	{"rate_reply", 1, 2, &Parser::OnRateReply},
	{"block_reply", 2, 4, &Parser::OnBlockReply},
	{"interleave_samples", 1, 2, &Parser::OnInterleaveSamples},
	{"short_samples", 1, 1, &Parser::OnShortSamples},
	{"level", 2, 2, &Parser::OnLevel},
	{"ramp", 4, 4, &Parser::OnRamp},
	{"wearer", 2, 2, &Parser::OnWearer},
	{"wearer_levels", 2, 2, &Parser::OnWearerLevels},
	{"noise", 1, 1, &Parser::OnNoise},
	{"seed", 1, 1, &Parser::OnSeed},
	{"replay", 1, 2, &Parser::OnReplay},
	{"follow", 1, kAny, &Parser::OnFollow},
	{"unplug", 1, 2, &Parser::OnUnplug},
	{"silent", 2, 2, &Parser::OnSilent},
	{"log", 1, 1, &Parser::OnLog},
};

ParseResult Parser::Run(const std::string &text)
{
	std::istringstream in(text);
	std::string raw;
	for (int number = 1; std::getline(in, raw); ++number) {
		if (!raw.empty() && raw.back() == '\r')
			raw.pop_back();
		Line line;
		line.number = number;
		const std::string content = TrimBlanks(StripComment(raw));
		if (content.empty())
			continue;
		line.words = Split(content);
		line.rest = TrimBlanks(content.substr(line.words[0].size()));
		const std::string keyword = Lower(line.words[0]);
		const Rule *rule = nullptr;
		for (const Rule &r : kRules)
			if (keyword == r.keyword)
				rule = &r;
		if (rule == nullptr) {
			Error(number, "unknown keyword '" + line.words[0] + "'");
			continue;
		}
		const size_t args = line.words.size() - 1;
		if (args < rule->min_args || args > rule->max_args) {
			std::string expected = std::to_string(rule->min_args);
			if (rule->max_args != rule->min_args)
				expected += rule->max_args == kAny ? " or more" : " to " + std::to_string(rule->max_args);
			Error(number, keyword + " takes " + expected + " value(s), got " + std::to_string(args));
			continue;
		}
		(this->*rule->handler)(line);
	}
	Finish();
	ParseResult result;
	result.errors = errors_;
	if (errors_.empty())
		result.config = std::move(config_);
	return result;
}

void Parser::Error(int line, const std::string &message)
{
	errors_.push_back(source_ + ":" + std::to_string(line) + ": " + message);
}

std::optional<int64_t> Parser::Number(const Line &line, size_t index, int64_t min, int64_t max, const char *what)
{
	const std::optional<int64_t> v = ToInteger(line.words[index], min < 0);
	if (!v || *v < min || *v > max) {
		Error(line.number, std::string(what) + " must be a number from " + std::to_string(min) + " to " +
		                       std::to_string(max) + ", not '" + line.words[index] + "'");
		return std::nullopt;
	}
	return v;
}

std::optional<bool> Parser::Flag(const Line &line, size_t index)
{
	const std::optional<bool> v = ToBool(line.words[index]);
	if (!v)
		Error(line.number, line.words[0] + " takes yes or no, not '" + line.words[index] + "'");
	return v;
}

std::string Parser::PathOf(const std::string &word) const
{
	const std::filesystem::path path = Utf8Path(word);
	const std::u8string joined = path.is_absolute() || base_dir_.empty() ? path.u8string() : (Utf8Path(base_dir_) / path).u8string();
	return std::string(joined.begin(), joined.end());
}

void Parser::OnPresent(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.present = *v;
}

void Parser::OnFailInit(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.fail_init = *v;
}

void Parser::OnFailReads(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.fail_reads = *v;
}

void Parser::OnFailFeatures(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.fail_features = *v;
}

void Parser::OnRefuseOpen(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.refuse_open = *v;
}

void Parser::OnStallAfterPlug(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.stall_after_plug = *v;
}

void Parser::OnReadsDoNotWait(const Line &line)
{
	if (const auto v = Flag(line, 1))
		config_.reads_do_not_wait = *v;
}

void Parser::OnUsbId(const Line &line)
{
	const std::string &w = line.words[1];
	const size_t colon = w.find(':');
	std::vector<uint8_t> ids;
	std::string bad;
	if (colon != 4 || w.size() != 9 || !ToHexBytes({w.substr(0, 4), w.substr(5)}, 0, ids, bad)) {
		Error(line.number, "usb_id takes VVVV:PPPP in hex, not '" + w + "'");
		return;
	}
	config_.vendor_id = static_cast<uint16_t>(ids[0] << 8 | ids[1]);
	config_.product_id = static_cast<uint16_t>(ids[2] << 8 | ids[3]);
}

void Parser::OnAbsentUntil(const Line &line)
{
	if (const auto v = Number(line, 1, 0, kMaxMs, "the time"))
		config_.absent_until_ms = *v;
}

void Parser::OnUnplug(const Line &line)
{
	const auto at = Number(line, 1, 0, kMaxMs, "the time");
	std::optional<int64_t> duration = int64_t{-1};
	if (line.words.size() > 2)
		duration = Number(line, 2, 1, kMaxMs, "the duration");
	if (at && duration)
		config_.unplugs.push_back({*at, *duration});
}

void Parser::OnSilent(const Line &line)
{
	const auto at = Number(line, 1, 0, kMaxMs, "the time");
	const auto duration = Number(line, 2, 1, kMaxMs, "the duration");
	if (at && duration)
		config_.silences.push_back({*at, *duration});
}

void Parser::OnLog(const Line &line)
{
	config_.log_path = PathOf(line.rest);
}

void Parser::Finish()
{
	if (first_hex_line_ != 0 && first_field_line_ != 0)
		Error(first_hex_line_, "image_hex gives the whole image; it cannot be combined with the fields, record or raw (line " +
		                           std::to_string(first_field_line_) + ")");
	if (replay_line_ != 0 && first_level_line_ != 0)
		Error(replay_line_, "replay gives the levels; it cannot be combined with level, ramp or wearer (line " +
		                        std::to_string(first_level_line_) + ")");
	if (first_hex_line_ != 0) {
		config_.image.fill(fill_);
		std::copy(image_hex_.begin(), image_hex_.begin() + static_cast<std::ptrdiff_t>(std::min(image_hex_.size(), kImageSize)),
		          config_.image.begin());
	} else {
		config_.image = builder_.Finish(end_marker_, fill_);
	}
	for (const LevelOp &op : level_ops_) {
		if (op.kind == LevelOp::Plain)
			config_.levels.Ramp(op.start_ms, op.end_ms, op.from, op.to);
		else
			config_.levels.Step(op.start_ms, op.kind == LevelOp::WearerOn ? on_level_ : off_level_);
	}
	config_.levels.SetIdleLevel(off_level_);
	config_.on_level = on_level_;
	config_.off_level = off_level_;
	if (!replay_.empty())
		config_.levels.Replay(std::move(replay_), replay_loop_);
	config_.levels.SetNoise(noise_, seed_);
	const auto by_start = [](const Window &a, const Window &b) { return a.start_ms < b.start_ms; };
	std::stable_sort(config_.unplugs.begin(), config_.unplugs.end(), by_start);
	std::stable_sort(config_.silences.begin(), config_.silences.end(), by_start);
}

} // namespace config_parser

ParseResult ParseConfig(const std::string &text, const std::string &source, const std::string &base_dir)
{
	return config_parser::Parser(source, base_dir).Run(text);
}

} // namespace zelvan::sim
