// Configuration keywords of the level program: levels, ramps, the wearer, noise and replays.
#include "sim_config_parser.h"
#include "sim_files.h"

#include <fstream>
#include <limits>
#include <string>
#include <utility>

namespace zelvan::sim::config_parser {

void Parser::NoteLevel(const Line &line)
{
	if (first_level_line_ == 0)
		first_level_line_ = line.number;
}

void Parser::OnLevel(const Line &line)
{
	NoteLevel(line);
	const auto ms = Number(line, 1, 0, kMaxMs, "the time");
	const auto raw = Number(line, 2, 0, 65535, "the level");
	if (ms && raw)
		level_ops_.push_back({*ms, *ms, static_cast<unsigned>(*raw), static_cast<unsigned>(*raw), LevelOp::Plain});
}

void Parser::OnRamp(const Line &line)
{
	NoteLevel(line);
	const auto start = Number(line, 1, 0, kMaxMs, "the start");
	const auto end = Number(line, 2, 0, kMaxMs, "the end");
	const auto from = Number(line, 3, 0, 65535, "the first level");
	const auto to = Number(line, 4, 0, 65535, "the last level");
	if (!start || !end || !from || !to)
		return;
	if (*end <= *start) {
		Error(line.number, "a ramp must end after it starts");
		return;
	}
	level_ops_.push_back({*start, *end, static_cast<unsigned>(*from), static_cast<unsigned>(*to), LevelOp::Plain});
}

void Parser::OnWearer(const Line &line)
{
	NoteLevel(line);
	const auto ms = Number(line, 1, 0, kMaxMs, "the time");
	const std::string state = Lower(line.words[2]);
	if (state != "on" && state != "off") {
		Error(line.number, "wearer is on or off, not '" + line.words[2] + "'");
		return;
	}
	if (ms)
		level_ops_.push_back({*ms, *ms, 0, 0, state == "on" ? LevelOp::WearerOn : LevelOp::WearerOff});
}

void Parser::OnWearerLevels(const Line &line)
{
	const auto on = Number(line, 1, 0, 65535, "the on-head level");
	const auto off = Number(line, 2, 0, 65535, "the off-head level");
	if (on && off) {
		on_level_ = static_cast<unsigned>(*on);
		off_level_ = static_cast<unsigned>(*off);
	}
}

void Parser::OnNoise(const Line &line)
{
	if (const auto v = Number(line, 1, 0, 65535, "the noise amplitude"))
		noise_ = static_cast<unsigned>(*v);
}

void Parser::OnSeed(const Line &line)
{
	if (const auto v = Number(line, 1, 0, std::numeric_limits<int64_t>::max(), "the seed"))
		seed_ = static_cast<uint64_t>(*v);
}

void Parser::OnReplay(const Line &line)
{
	replay_line_ = line.number;
	if (line.words.size() > 2) {
		if (Lower(line.words[2]) != "loop") {
			Error(line.number, "replay FILE takes only 'loop' after it, not '" + line.words[2] + "'");
			return;
		}
		replay_loop_ = true;
	}
	const std::string path = PathOf(line.words[1]);
	std::ifstream in(Utf8Path(path));
	if (!in) {
		Error(line.number, "cannot read replay file " + path);
		return;
	}
	std::vector<unsigned> readings;
	bool timed = false;
	int data_lines = 0;
	std::string raw;
	for (int number = 1; std::getline(in, raw); ++number) {
		// As tune does: a recording saved by a Windows editor starts with a byte order mark.
		if (number == 1 && raw.rfind("\xef\xbb\xbf", 0) == 0)
			raw.erase(0, 3);
		const std::vector<std::string> words = Split(StripComment(raw));
		if (words.empty())
			continue;
		// A recording's lines carry the label of the phase they were taken
		// in; the sensor only replays the reading.
		const bool this_timed = words.size() >= 2;
		std::optional<int64_t> ms = this_timed ? ToInteger(words[0], false) : int64_t{0};
		std::optional<int64_t> value = ToInteger(words[this_timed ? 1 : 0], false);
		const std::string where = "replay " + path + ":" + std::to_string(number) + ": ";
		if (words.size() > 3 || !ms || !value || *value > 65535 || *ms > kMaxMs) {
			Error(line.number, where + "expected a reading (0..65535), 'MS READING' or 'MS READING LABEL'");
			return;
		}
		if (data_lines++ > 0 && this_timed != timed) {
			Error(line.number, where + "mixes plain readings with timed ones");
			return;
		}
		timed = this_timed;
		if (timed)
			config_.levels.Step(*ms, static_cast<unsigned>(*value));
		else
			readings.push_back(static_cast<unsigned>(*value));
	}
	if (data_lines == 0) {
		Error(line.number, "replay file " + path + " holds no readings");
		return;
	}
	if (!timed)
		replay_ = std::move(readings);
}

// Read while the device runs, so the file need not exist yet.
void Parser::OnFollow(const Line &line)
{
	config_.follow_path = PathOf(line.rest);
}

} // namespace zelvan::sim::config_parser
