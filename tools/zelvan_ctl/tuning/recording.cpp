// The recording format: written one line at a time by record, read whole by
// tune and the simulated sensor's replay.
#include "tools/zelvan_ctl/tuning/recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <streambuf>
#include <string_view>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {

constexpr std::string_view kMagic = "# zelvan-ctl record";
constexpr int kVersion = 1;
// A reading line is under 60 characters; a comment may be longer, but a
// line beyond this is not text someone wrote, and is not read any further.
constexpr size_t kMaxLineLength = 4096;

enum class LineRead { Line, End, TooLong };

// One line without its end ("\n" or "\r\n"), at most kMaxLineLength bytes,
// so that a file of one endless line costs as much as a short one.
LineRead ReadLine(std::streambuf &in, std::string &line)
{
	line.clear();
	for (;;) {
		const int c = in.sbumpc();
		if (c == std::char_traits<char>::eof())
			return line.empty() ? LineRead::End : LineRead::Line;
		if (c == '\n')
			break;
		if (line.size() == kMaxLineLength)
			return LineRead::TooLong;
		line.push_back(static_cast<char>(c));
	}
	if (!line.empty() && line.back() == '\r')
		line.pop_back();
	return LineRead::Line;
}

bool IsBlank(std::string_view text)
{
	return text.find_first_not_of(" \t") == std::string_view::npos;
}

std::vector<std::string_view> Words(std::string_view text)
{
	std::vector<std::string_view> words;
	size_t at = 0;
	while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
		const size_t end = std::min(text.find_first_of(" \t", at), text.size());
		words.push_back(text.substr(at, end - at));
		at = end;
	}
	return words;
}

enum class Number { Ok, NotNumber, OutOfRange };

// A whole word as a decimal integer in [min, max]; "+5" and "5x" are not.
Number ParseInt(std::string_view word, int64_t min, int64_t max, int64_t &value)
{
	const char *end = word.data() + word.size();
	const auto [ptr, ec] = std::from_chars(word.data(), end, value);
	// Digits past 64 bits followed by other bytes are garbage, not a number.
	if (ptr != end || word.empty() || (ec != std::errc() && ec != std::errc::result_out_of_range))
		return Number::NotNumber;
	if (ec == std::errc::result_out_of_range)
		return Number::OutOfRange;
	return value < min || value > max ? Number::OutOfRange : Number::Ok;
}

bool IsLabel(std::string_view word)
{
	if (word.empty() || word.size() > kMaxLabelLength)
		return false;
	for (const char c : word) {
		const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
		if (!letter && !(c >= '0' && c <= '9') && c != '-' && c != '_')
			return false;
	}
	return true;
}

// Shown in messages: a line that may hold anything, cut short and with
// bytes outside printable ASCII as '?'.
std::string Quoted(std::string_view text)
{
	std::string shown;
	for (const char c : text.substr(0, 40))
		shown.push_back(c >= 0x20 && c < 0x7f ? c : '?');
	return "'" + shown + (text.size() > 40 ? "...'" : "'");
}

struct HeaderField {
	const char *key;
	int64_t min;
	int64_t max;
	int64_t value = 0;
};

// "# key=value key=value ...": every field named, once, in range; other
// keys are left for later versions' readers.
bool ParseFields(std::string_view line, std::vector<HeaderField> &fields, std::string &message)
{
	std::vector<bool> seen(fields.size(), false);
	const auto words = Words(line.substr(1));
	for (const auto word : words) {
		const size_t eq = word.find('=');
		if (eq == std::string_view::npos || eq == 0) {
			message = "the header holds " + Quoted(word) + ", not a key=value field";
			return false;
		}
		const std::string_view key = word.substr(0, eq);
		for (size_t i = 0; i < fields.size(); ++i) {
			if (key != fields[i].key)
				continue;
			if (seen[i]) {
				message = "the header names " + std::string(key) + " twice";
				return false;
			}
			seen[i] = true;
			const Number n = ParseInt(word.substr(eq + 1), fields[i].min, fields[i].max, fields[i].value);
			if (n != Number::Ok) {
				message = "the header's " + std::string(key) + "=" + Quoted(word.substr(eq + 1)) +
				          (n == Number::OutOfRange ? " is out of range (" + std::to_string(fields[i].min) + " to " +
				                                         std::to_string(fields[i].max) + ")"
				                                   : " is not a whole number");
				return false;
			}
		}
	}
	for (size_t i = 0; i < fields.size(); ++i) {
		if (!seen[i]) {
			message = "the header has no " + std::string(fields[i].key) + "= field";
			return false;
		}
	}
	return true;
}

class Parser {
public:
	Parser(std::istream &in, RecordingProblem &problem, LabelWords labels)
		: in_(*in.rdbuf()), problem_(problem), labels_(labels)
	{
	}

	std::optional<Recording> Run()
	{
		Recording recording;
		if (!ReadHeader(recording.header))
			return std::nullopt;
		std::string line;
		for (;;) {
			const LineRead read = Next(line);
			if (read == LineRead::End)
				break;
			if (read == LineRead::TooLong)
				return std::nullopt;
			if (IsBlank(line) || line[0] == '#')
				continue;
			if (!AddReading(line, recording.readings))
				return std::nullopt;
		}
		if (recording.readings.empty()) {
			Fail(0, "the recording holds no readings");
			return std::nullopt;
		}
		return recording;
	}

private:
	LineRead Next(std::string &line)
	{
		if (in_.sgetc() == std::char_traits<char>::eof())
			return LineRead::End;
		++number_;
		const LineRead read = ReadLine(in_, line);
		if (read == LineRead::TooLong)
			Fail(number_, "the line is longer than " + std::to_string(kMaxLineLength) + " characters; not a recording");
		return read;
	}

	bool Fail(size_t line, std::string message)
	{
		problem_ = {line, std::move(message)};
		return false;
	}

	bool ReadHeader(RecordingHeader &header)
	{
		std::string line;
		const LineRead first = Next(line);
		if (first == LineRead::End)
			return Fail(1, "the file is empty, not a zelvan-ctl recording");
		// Editors on Windows put a byte order mark before the text they save.
		if (line.rfind("\xef\xbb\xbf", 0) == 0)
			line.erase(0, 3);
		const bool magic = line.rfind(kMagic, 0) == 0 && (line.size() == kMagic.size() || line[kMagic.size()] == ' ');
		if (first == LineRead::TooLong || !magic)
			return Fail(1, "not a zelvan-ctl recording (it starts with " + Quoted(line) + ")");
		int64_t version = 0;
		const auto rest = Words(std::string_view(line).substr(kMagic.size()));
		if (rest.size() != 1 || ParseInt(rest[0], 1, 1000000, version) != Number::Ok)
			return Fail(1, "the first line names no format version");
		if (version != kVersion)
			return Fail(1, "a recording of format " + std::to_string(version) + "; this zelvan-ctl reads format " +
			                   std::to_string(kVersion));

		std::vector<HeaderField> calibration{
			{"cal", 0, 65535}, {"thresh", 0, 65535}, {"hyst", 0, 65535}, {"trim", -32768, 32767}};
		if (!HeaderLine(line, calibration))
			return false;
		std::vector<HeaderField> settings{{"moving_avg_length", 1, 64},
		                                  {"report_rate_ms", 50, 5000},
		                                  {"threshold_offset", -65535, 65535},
		                                  {"report_period_ms", 1, 60000}};
		if (!HeaderLine(line, settings))
			return false;
		header.cal = static_cast<uint16_t>(calibration[0].value);
		header.thresh = static_cast<uint16_t>(calibration[1].value);
		header.hyst = static_cast<uint16_t>(calibration[2].value);
		header.trim = static_cast<int16_t>(calibration[3].value);
		header.moving_avg_length = static_cast<int32_t>(settings[0].value);
		header.report_rate_ms = static_cast<int32_t>(settings[1].value);
		header.threshold_offset = static_cast<int32_t>(settings[2].value);
		header.report_period_ms = static_cast<uint32_t>(settings[3].value);
		return true;
	}

	bool HeaderLine(std::string &line, std::vector<HeaderField> &fields)
	{
		const LineRead read = Next(line);
		if (read == LineRead::TooLong)
			return false;
		if (read == LineRead::End)
			return Fail(number_ + 1, std::string("the header ends early: no ") + fields[0].key + "= line");
		if (line.empty() || line[0] != '#')
			return Fail(number_, std::string("the header's ") + fields[0].key + "= line is missing (found " +
			                         Quoted(line) + ")");
		std::string message;
		if (!ParseFields(line, fields, message))
			return Fail(number_, message);
		return true;
	}

	bool AddReading(const std::string &line, std::vector<RecordedReading> &readings)
	{
		const auto words = Words(line);
		if (words.size() < 2 || words.size() > 3)
			return Fail(number_, "not a reading (\"MS READING [LABEL]\"): " + Quoted(line));
		int64_t ms = 0;
		int64_t raw = 0;
		const Number ms_ok = ParseInt(words[0], 0, UINT32_MAX, ms);
		const Number raw_ok = ParseInt(words[1], 0, 65535, raw);
		if (ms_ok == Number::NotNumber || raw_ok == Number::NotNumber)
			return Fail(number_, "not a reading (\"MS READING [LABEL]\"): " + Quoted(line));
		if (ms_ok == Number::OutOfRange)
			return Fail(number_, "the time " + Quoted(words[0]) + " ms is out of range");
		if (raw_ok == Number::OutOfRange)
			return Fail(number_, "the reading " + Quoted(words[1]) + " is out of range (0 to 65535)");
		if (words.size() == 3 && !IsLabel(words[2]))
			return Fail(number_, "the label " + Quoted(words[2]) + " is not a word of letters, digits, '-' or '_' (at most " +
			                         std::to_string(kMaxLabelLength) + ")");
		// "ON" or "wearing" would make the recording labelled with nothing to
		// score, and tune would call any setting best.
		if (words.size() == 3 && labels_ == LabelWords::OnOff && words[2] != "on" && words[2] != "off")
			return Fail(number_, "the label " + Quoted(words[2]) + " is not one tune knows (on or off, in lower case)");
		if (!readings.empty() && ms < readings.back().ms)
			return Fail(number_, "readings out of order: " + std::to_string(ms) + " ms comes after " +
			                         std::to_string(readings.back().ms) + " ms");
		if (readings.size() == kMaxRecordedReadings)
			return Fail(number_, "more than " + std::to_string(kMaxRecordedReadings) + " readings");
		readings.push_back({static_cast<uint32_t>(ms), static_cast<uint16_t>(raw),
		                    words.size() == 3 ? std::string(words[2]) : std::string()});
		return true;
	}

	std::streambuf &in_;
	RecordingProblem &problem_;
	LabelWords labels_;
	size_t number_ = 0;
};

} // namespace

bool Recording::Labelled() const
{
	for (const auto &reading : readings)
		if (!reading.label.empty())
			return true;
	return false;
}

std::string FormatRecordingHeader(const RecordingHeader &header)
{
	char text[256];
	std::snprintf(text, sizeof(text),
	              "%.*s %d\n# cal=%u thresh=%u hyst=%u trim=%d\n"
	              "# moving_avg_length=%d report_rate_ms=%d threshold_offset=%d report_period_ms=%u\n",
	              static_cast<int>(kMagic.size()), kMagic.data(), kVersion, header.cal, header.thresh, header.hyst,
	              header.trim, header.moving_avg_length, header.report_rate_ms, header.threshold_offset,
	              header.report_period_ms);
	return text;
}

std::string FormatRecordedReading(const RecordedReading &reading)
{
	std::string line = std::to_string(reading.ms) + " " + std::to_string(reading.raw);
	if (!reading.label.empty())
		line += " " + reading.label;
	return line + "\n";
}

std::optional<Recording> ParseRecording(std::istream &in, RecordingProblem &problem, LabelWords labels)
{
	if (in.rdbuf() == nullptr) {
		problem = {0, "nothing to read"};
		return std::nullopt;
	}
	return Parser(in, problem, labels).Run();
}

UserSignature CalibrationOf(const RecordingHeader &header)
{
	UserSignature calibration;
	calibration.programmed_cal = header.cal;
	calibration.proximity_threshold = header.thresh;
	calibration.proximity_hysteresis = header.hyst;
	calibration.user_trim = header.trim;
	return calibration;
}

std::optional<Recording> LoadRecordingFile(const std::string &file, std::string &error)
{
	const std::string shown = EscapeControlBytes(file);
	const std::filesystem::path path = Utf8Path(file);
	std::error_code ec;
	if (std::filesystem::is_directory(path, ec)) {
		error = shown + ": is a folder, not a recording";
		return std::nullopt;
	}
	std::ifstream in(path, std::ios::binary);
	if (path.empty() || !in) {
		error = shown + ": cannot open it: " + (path.empty() ? "the name is not valid text" : std::strerror(errno));
		return std::nullopt;
	}
	RecordingProblem problem;
	auto recording = ParseRecording(in, problem);
	if (!recording) {
		if (in.bad())
			error = shown + ": could not read it";
		else if (problem.line > 0)
			error = shown + ":" + std::to_string(problem.line) + ": " + problem.message;
		else
			error = shown + ": " + problem.message;
	}
	return recording;
}

} // namespace zelvan::ctl
