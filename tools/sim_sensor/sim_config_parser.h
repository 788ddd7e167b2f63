// The parser of the simulated sensor's configuration, shared by the files that handle its keywords.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim_config.h"

namespace zelvan::sim::config_parser {

constexpr int64_t kMaxMs = int64_t{1} << 40;

struct Line {
	int number = 0;
	std::vector<std::string> words; // words[0] is the keyword
	std::string rest;               // everything after the keyword, trimmed
};

// Reading the words of a line, in sim_config.cpp.
std::string StripComment(const std::string &line);
std::vector<std::string> Split(const std::string &s);
std::string Lower(std::string s);
std::optional<int64_t> ToInteger(const std::string &word, bool allow_negative);
bool ToHexBytes(const std::vector<std::string> &words, size_t from, std::vector<uint8_t> &out, std::string &bad);

// One handler a keyword; the handlers are defined by subject, in sim_config*.cpp.
class Parser {
public:
	Parser(std::string source, std::string base_dir) : source_(std::move(source)), base_dir_(std::move(base_dir)) {}
	ParseResult Run(const std::string &text);

private:
	using Handler = void (Parser::*)(const Line &);
	struct Rule {
		const char *keyword;
		size_t min_args;
		size_t max_args;
		Handler handler;
	};
	static const Rule kRules[];

	void Error(int line, const std::string &message);
	std::optional<int64_t> Number(const Line &line, size_t index, int64_t min, int64_t max, const char *what);
	std::optional<bool> Flag(const Line &line, size_t index);
	std::string PathOf(const std::string &word) const;
	void AddField(const Line &line, uint8_t tag, const std::vector<uint8_t> &value, bool corrupt = false);
	bool Reply(const Line &line, size_t from, bool block, ReplyRule &rule);
	void NoteLevel(const Line &line);
	void Finish();

	void OnPresent(const Line &line);
	void OnFailInit(const Line &line);
	void OnFailReads(const Line &line);
	void OnFailFeatures(const Line &line);
	void OnRefuseOpen(const Line &line);
	void OnStallAfterPlug(const Line &line);
	void OnReadsDoNotWait(const Line &line);
	void OnUsbId(const Line &line);
	void OnAbsentUntil(const Line &line);
	void OnCal(const Line &line);
	void OnThresh(const Line &line);
	void OnHyst(const Line &line);
	void OnTrim(const Line &line);
	void OnTrackingSerial(const Line &line);
	void OnHmdSerial(const Line &line);
	void OnRecord(const Line &line);
	void OnRecordBadCrc(const Line &line);
	void OnRaw(const Line &line);
	void OnImageHex(const Line &line);
	void OnImageFill(const Line &line);
	void OnEndMarker(const Line &line);
	void OnRateReply(const Line &line);
	void OnBlockReply(const Line &line);
	void OnInterleaveSamples(const Line &line);
	void OnShortSamples(const Line &line);
	void OnLevel(const Line &line);
	void OnRamp(const Line &line);
	void OnWearer(const Line &line);
	void OnWearerLevels(const Line &line);
	void OnNoise(const Line &line);
	void OnSeed(const Line &line);
	void OnReplay(const Line &line);
	void OnFollow(const Line &line);
	void OnUnplug(const Line &line);
	void OnSilent(const Line &line);
	void OnLog(const Line &line);

	std::string source_;
	std::string base_dir_;
	std::vector<std::string> errors_;
	SensorConfig config_;

	ImageBuilder builder_;
	std::vector<uint8_t> image_hex_;
	int first_field_line_ = 0;
	int first_hex_line_ = 0;
	bool end_marker_ = true;
	uint8_t fill_ = 0xFF;

	// Kept in line order and laid out at the end, once the wearer levels are known.
	struct LevelOp {
		int64_t start_ms;
		int64_t end_ms;
		unsigned from;
		unsigned to;
		enum { Plain, WearerOn, WearerOff } kind;
	};
	std::vector<LevelOp> level_ops_;
	unsigned on_level_ = kDefaultOnLevel;
	unsigned off_level_ = kDefaultOffLevel;
	int first_level_line_ = 0;
	int replay_line_ = 0;
	std::vector<unsigned> replay_;
	bool replay_loop_ = false;
	unsigned noise_ = 0;
	uint64_t seed_ = 1;
};

} // namespace zelvan::sim::config_parser
