// zelvan-ctl record: polls `samples` a few times a second and writes each
// reading as it comes, with the phase's label in a guided recording.
#include "tools/zelvan_ctl/tuning/sample_recorder.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/driver_settings.h"
#include "core/text_escape.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {


// The driver's reply holds at most this many characters.
constexpr size_t kReplyLimit = 511;
// Fetches in one Collect before the rest waits for the next one: the driver
// keeps only seconds of readings, so a poll must not fall behind for long.
constexpr int kFetchesPerCollect = 64;
constexpr auto kPollPeriod = std::chrono::milliseconds(250);
constexpr int kRounds = 3;

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

SampleRecorder::SampleRecorder(SendToDriver send, NoReplyExit no_reply, std::ostream &messages)
	: send_(std::move(send)), no_reply_(std::move(no_reply)), messages_(messages)
{
}

// The reply to `command`, or the exit status when there is none to read.
int SampleRecorder::Ask(const std::string &command, std::string &reply)
{
	const Exchange exchange = send_(command);
	if (exchange.outcome != Outcome::Replied)
		return no_reply_(exchange);
	reply = exchange.reply;
	if (reply == "ERR unknown command") {
		messages_ << "zelvan-ctl: the running driver is older and has no samples command; update it\n";
		return kExitError;
	}
	return kExitOk;
}

int SampleRecorder::Begin(RecordingHeader &header)
{
	std::string reply;
	if (const int status = Ask("status", reply); status != kExitOk)
		return status;
	const nlohmann::json status = ReplyToJson(reply);
	if (ClassifyReply(reply) != ReplyKind::Status) {
		messages_ << "zelvan-ctl: the driver's status is not understood: " << EscapeControlBytes(reply) << "\n";
		return kExitError;
	}
	// Without a sensor reader, or before the sensor has been read, there is
	// no calibration and nothing to record.
	const std::string hid = status.value("hid", std::string("?"));
	if (!status.contains("cal") || hid != "open") {
		messages_ << "zelvan-ctl: the sensor is not connected (hid=" << EscapeControlBytes(hid)
		          << "); plug the headset in, wait for zelvan-ctl status to show hid=open, and try again\n";
		return kExitError;
	}
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
	if (!complete || !offset_ok) {
		messages_ << "zelvan-ctl: the driver's status lacks the calibration or settings a recording needs: "
		          << EscapeControlBytes(reply) << "\n";
		return kExitError;
	}
	header.report_period_ms = static_cast<uint32_t>(header.report_rate_ms);

	if (const int asked = Ask("samples", reply); asked != kExitOk)
		return asked;
	const std::optional<SamplesReply> start = ParseSamplesReply(reply);
	if (!start) {
		messages_ << "zelvan-ctl: the driver's reply to samples is not understood: " << EscapeControlBytes(reply) << "\n";
		return kExitError;
	}
	next_ = start->next;
	return kExitOk;
}

int SampleRecorder::Collect(std::ostream &file, const std::string &label)
{
	bool more = true;
	for (int i = 0; more && i < kFetchesPerCollect; ++i)
		if (const int status = Fetch(file, label, more); status != kExitOk)
			return status;
	file.flush();
	if (!file) {
		messages_ << "zelvan-ctl: writing the recording failed (is the disk full?); it keeps what was written before\n";
		return kExitError;
	}
	kept_bytes_ += unflushed_bytes_;
	unflushed_bytes_ = 0;
	return kExitOk;
}

int SampleRecorder::Fetch(std::ostream &file, const std::string &label, bool &more)
{
	more = false;
	std::string reply;
	if (const int status = Ask("samples " + std::to_string(next_), reply); status != kExitOk)
		return status;
	if (reply.rfind("ERR samples:", 0) == 0 && reply.find("ahead") != std::string::npos) {
		messages_ << "zelvan-ctl: the driver restarted during the recording (" << EscapeControlBytes(reply.substr(4))
		          << "); the recording keeps the " << readings_ << " readings taken before\n";
		return kExitError;
	}
	const std::optional<SamplesReply> parsed = ParseSamplesReply(reply);
	if (!parsed) {
		messages_ << "zelvan-ctl: the driver's reply to samples is not understood: " << EscapeControlBytes(reply) << "\n";
		return kExitError;
	}
	if (parsed->lost > 0) {
		if (lost_ == 0)
			messages_ << "zelvan-ctl: warning: " << parsed->lost
			          << " readings were lost (the driver no longer kept them); the recording goes on with a gap\n";
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
	return kExitOk;
}

namespace {

struct RecordOptions {
	std::optional<double> seconds;
	bool guided = false;
	int count_down = 3;
	std::string file;
};

bool ParseRecordArgs(const std::vector<std::string> &args, RecordOptions &options)
{
	for (size_t i = 0; i < args.size(); ++i) {
		const std::string &a = args[i];
		if (a == "--guided") {
			options.guided = true;
		} else if (a == "--seconds" && i + 1 < args.size()) {
			double s = 0;
			const std::string &v = args[++i];
			const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), s);
			if (error != std::errc() || end != v.data() + v.size() || !(s > 0 && s <= 86400)) {
				std::fprintf(stderr, "zelvan-ctl: record --seconds wants a number of seconds (up to 86400), not '%s'\n",
				             EscapeControlBytes(v).c_str());
				return false;
			}
			options.seconds = s;
		} else if (a == "--count-down" && i + 1 < args.size()) {
			if (!ParseWhole(std::string_view(args[++i]), options.count_down) || options.count_down < 0 ||
			    options.count_down > 10) {
				std::fprintf(stderr, "zelvan-ctl: record --count-down wants whole seconds from 0 to 10\n");
				return false;
			}
		} else if (a.rfind("--", 0) == 0 || !options.file.empty()) {
			std::fprintf(stderr, "zelvan-ctl: record takes [--seconds S] [--guided] [--count-down S] FILE, not '%s' "
			                     "(see --help)\n",
			             EscapeControlBytes(a).c_str());
			return false;
		} else {
			options.file = a;
		}
	}
	if (options.file.empty()) {
		std::fprintf(stderr, "zelvan-ctl: record needs the file to write (see --help)\n");
		return false;
	}
	return true;
}

using SteadyClock = std::chrono::steady_clock;

// The file name as the next command line takes it: quoted unless it is
// plain, so that one with spaces or a shell's special characters pastes.
std::string AsArgument(const std::string &shown)
{
#ifdef _WIN32
	const char *const kPlain = "._-/\\:+,=@%";
#else
	const char *const kPlain = "._-/:+,=@%";
#endif
	bool plain = !shown.empty();
	for (const char c : shown)
		plain = plain && c != '\0' &&
		        (std::isalnum(static_cast<unsigned char>(c)) || std::strchr(kPlain, c) != nullptr);
	if (plain)
		return shown;
#ifdef _WIN32
	return "\"" + shown + "\"";
#else
	std::string quoted = "'";
	for (const char c : shown)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
#endif
}

// Polls until `end`, a few times a second; `each_second` is told the
// seconds gone since `start`.
int PollUntil(SampleRecorder &recorder, std::ostream &file, const std::string &label, SteadyClock::time_point start,
              SteadyClock::time_point end, const std::function<void(long long)> &each_second)
{
	long long shown = -1;
	for (auto tick = SteadyClock::now();; tick += kPollPeriod) {
		if (const int status = recorder.Collect(file, label); status != kExitOk)
			return status;
		const auto now = SteadyClock::now();
		const long long gone = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
		if (each_second && gone != shown)
			each_second(shown = gone);
		if (now >= end)
			return kExitOk;
		std::this_thread::sleep_until(std::min(tick + kPollPeriod, end));
	}
}

// Prompts and progress go out at once: the person holding the headset, or
// a script playing one, acts on them.
template <typename... Parts>
void Say(const Parts &...parts)
{
	(std::cout << ... << parts) << std::flush;
}

int RecordWorn(SampleRecorder &recorder, std::ostream &file, double seconds)
{
	const auto length = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
	const auto start = SteadyClock::now();
	Say("Recording for ", seconds, " s: wear the headset as you always do.\n");
	const int status = PollUntil(recorder, file, "", start, start + length, [&](long long gone) {
		Say("\r  ", gone, " of ", seconds, " s, ", recorder.Readings(), " readings ");
	});
	Say("\n");
	return status;
}

// Readings taken during the count-down are the wearer moving: they go in
// without a label. Those taken after its "now" carry the phase's.
int RecordPhase(SampleRecorder &recorder, std::ostream &file, const RecordOptions &options, int round, bool on)
{
	Say("Round ", round, " of ", kRounds, on ? ": put it on.\n" : ": take the headset off and hold it in your hand.\n",
	    " ");
	for (int left = options.count_down; left > 0; --left) {
		Say(" ", left);
		const auto start = SteadyClock::now();
		if (const int status = PollUntil(recorder, file, "", start, start + std::chrono::seconds(1), nullptr);
		    status != kExitOk)
			return status;
	}
	// What came before "now" is flushed unlabelled first.
	if (const int status = recorder.Collect(file, ""); status != kExitOk)
		return status;
	const double seconds = options.seconds.value_or(10.0);
	Say(" now: ", on ? "wear it" : "hold it", " for ", seconds, " s ...");
	const size_t before = recorder.Readings();
	const auto start = SteadyClock::now();
	const auto length = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
	const int status = PollUntil(recorder, file, on ? "on" : "off", start, start + length, nullptr);
	Say(" ", recorder.Readings() - before, " readings\n");
	return status;
}

int RecordGuided(SampleRecorder &recorder, std::ostream &file, const RecordOptions &options)
{
	Say("Guided recording: ", kRounds, " rounds of taking the headset off and putting it on, ",
	    options.seconds.value_or(10.0), " s each.\n");
	for (int round = 1; round <= kRounds; ++round)
		for (const bool on : {false, true})
			if (const int status = RecordPhase(recorder, file, options, round, on); status != kExitOk)
				return status;
	return kExitOk;
}

} // namespace

int RunRecord(const std::vector<std::string> &args, const SendToDriver &send, const NoReplyExit &no_reply)
{
	RecordOptions options;
	if (!ParseRecordArgs(args, options))
		return kExitUsage;
	SampleRecorder recorder(send, no_reply, std::cerr);
	RecordingHeader header;
	if (const int status = recorder.Begin(header); status != kExitOk)
		return status;

	const std::string shown = EscapeControlBytes(options.file);
	const std::filesystem::path path = Utf8Path(options.file);
	std::ofstream file;
#ifndef _WIN32
	// In a shared folder a name may be another user's link planted for us to
	// write through (into a file of ours they cannot write themselves).
	struct stat link {};
	if (!path.empty() && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid != geteuid()) {
		std::fprintf(stderr, "zelvan-ctl: %s is a link made by another user (uid %u); not writing through it\n",
		             shown.c_str(), static_cast<unsigned>(link.st_uid));
		return kExitError;
	}
#endif
	// An earlier recording is the user's data: never written over.
	std::error_code exists_error;
	const std::filesystem::file_status existing = std::filesystem::symlink_status(path, exists_error);
	if (!path.empty() && std::filesystem::exists(existing) && !std::filesystem::is_directory(existing)) {
		std::fprintf(stderr, "zelvan-ctl: %s already exists; a recording is never written over (remove it or give another name)\n",
		             shown.c_str());
		return kExitError;
	}
	errno = 0;
	if (!path.empty())
		file.open(path, std::ios::binary | std::ios::trunc);
	const int open_error = file.is_open() ? 0 : errno;
	const std::string header_text = FormatRecordingHeader(header);
	file << header_text << std::flush;
	if (!file) {
		std::fprintf(stderr, "zelvan-ctl: %s cannot be written: %s\n", shown.c_str(),
		             path.empty()        ? "the name is not valid text"
		             : file.is_open()    ? "the header did not fit (is the disk full?)"
		             : open_error != 0   ? std::strerror(open_error)
		                                 : "it cannot be opened");
		return kExitError;
	}

	const int status = options.guided ? RecordGuided(recorder, file, options)
	                                  : RecordWorn(recorder, file, options.seconds.value_or(60.0));
	if (status != kExitOk) {
		if (!file) {
			// A full disk takes part of a line: cut back to the last whole one.
			file.close();
			std::error_code ec;
			std::filesystem::resize_file(path, header_text.size() + recorder.KeptBytes(), ec);
		}
		std::fprintf(stderr, "zelvan-ctl: the recording in %s stops there\n", shown.c_str());
		return status;
	}
	if (recorder.Readings() == 0) {
		std::fprintf(stderr, "zelvan-ctl: no readings came from the sensor; %s holds only the header\n", shown.c_str());
		return kExitError;
	}
	Say("Recorded ", recorder.Readings(), " readings into ", shown);
	if (recorder.Lost() > 0)
		Say(" (", recorder.Lost(), " lost on the way)");
	Say(".\nNext: zelvan-ctl tune ", AsArgument(shown), " --svg plot.svg\n");
	return kExitOk;
}

} // namespace zelvan::ctl
