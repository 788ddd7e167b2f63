// The recording's clock and its file: polls a few times a second, and on a
// failed write cuts the file back to its last whole reading.
#include "tools/zelvan_ctl/tuning/record_session.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <ostream>
#include <streambuf>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/channel/new_file.h"
#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/sample_recorder.h"

namespace zelvan::ctl {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kPollPeriod = std::chrono::milliseconds(250);

class Session {
public:
	Session(SampleRecorder &recorder, std::ostream &file, const RecordEvents &events)
		: recorder_(recorder), file_(file), events_(events)
	{
	}

	MaybeFailure Worn(double seconds);
	MaybeFailure Guided(const RecordPlan &plan);

private:
	void Tell(RecordEvent event) const
	{
		if (events_)
			events_(event);
	}
	MaybeFailure Collect(const std::string &label);
	MaybeFailure PollUntil(const std::string &label, SteadyClock::time_point start, SteadyClock::time_point end,
	                       bool each_second, double seconds);
	MaybeFailure Phase(const RecordPlan &plan, int round, bool on);

	SampleRecorder &recorder_;
	std::ostream &file_;
	const RecordEvents &events_;
};

MaybeFailure Session::Collect(const std::string &label)
{
	MaybeFailure failure = recorder_.Collect(file_, label);
	if (std::string warning = recorder_.TakeWarning(); !warning.empty())
		Tell({.kind = RecordEvent::Kind::Warning, .text = std::move(warning)});
	if (failure)
		Tell({.kind = RecordEvent::Kind::Failed, .failure = &*failure});
	return failure;
}

// Polls until `end`, a few times a second; with `each_second`, says the
// seconds gone since `start` as each one passes.
MaybeFailure Session::PollUntil(const std::string &label, SteadyClock::time_point start, SteadyClock::time_point end,
                                bool each_second, double seconds)
{
	long long shown = -1;
	for (auto tick = SteadyClock::now();; tick += kPollPeriod) {
		if (MaybeFailure failure = Collect(label))
			return failure;
		const auto now = SteadyClock::now();
		const long long gone = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
		if (each_second && gone != shown)
			Tell({.kind = RecordEvent::Kind::Second, .seconds = seconds, .gone = shown = gone,
			      .readings = recorder_.Readings()});
		if (now >= end)
			return std::nullopt;
		std::this_thread::sleep_until(std::min(tick + kPollPeriod, end));
	}
}

SteadyClock::duration Length(double seconds)
{
	return std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
}

MaybeFailure Session::Worn(double seconds)
{
	const auto start = SteadyClock::now();
	Tell({.kind = RecordEvent::Kind::Worn, .seconds = seconds});
	MaybeFailure failure = PollUntil("", start, start + Length(seconds), true, seconds);
	Tell({.kind = RecordEvent::Kind::Ended});
	return failure;
}

// Readings taken during the count-down are the wearer moving: they go in
// without a label. Those taken after its "now" carry the phase's.
MaybeFailure Session::Phase(const RecordPlan &plan, int round, bool on)
{
	Tell({.kind = RecordEvent::Kind::Round, .round = round, .on = on});
	for (int left = plan.count_down; left > 0; --left) {
		Tell({.kind = RecordEvent::Kind::CountDown, .left = left});
		const auto start = SteadyClock::now();
		if (MaybeFailure failure = PollUntil("", start, start + std::chrono::seconds(1), false, 0))
			return failure;
	}
	// What came before "now" is flushed unlabelled first.
	if (MaybeFailure failure = Collect(""))
		return failure;
	const double seconds = plan.Seconds();
	Tell({.kind = RecordEvent::Kind::Now, .seconds = seconds, .on = on});
	const size_t before = recorder_.Readings();
	const auto start = SteadyClock::now();
	MaybeFailure failure = PollUntil(on ? "on" : "off", start, start + Length(seconds), false, 0);
	Tell({.kind = RecordEvent::Kind::PhaseEnd, .readings = recorder_.Readings() - before});
	return failure;
}

MaybeFailure Session::Guided(const RecordPlan &plan)
{
	Tell({.kind = RecordEvent::Kind::Guided, .seconds = plan.Seconds()});
	for (int round = 1; round <= kGuidedRounds; ++round)
		for (const bool on : {false, true})
			if (MaybeFailure failure = Phase(plan, round, on))
				return failure;
	return std::nullopt;
}

// Writes straight into a C FILE, whose own buffer is enough: a short write
// (a full disk) fails the stream at its flush.
class FileWriter : public std::streambuf {
public:
	FileWriter() = default;
	FileWriter(const FileWriter &) = delete;
	FileWriter &operator=(const FileWriter &) = delete;
	~FileWriter() override { Close(); }

	void Open(std::FILE *file) { file_ = file; }
	bool IsOpen() const { return file_ != nullptr; }
	void Close()
	{
		if (file_ != nullptr)
			std::fclose(file_);
		file_ = nullptr;
	}

protected:
	int_type overflow(int_type c) override
	{
		if (traits_type::eq_int_type(c, traits_type::eof()))
			return traits_type::not_eof(c);
		return std::fputc(traits_type::to_char_type(c), file_) == EOF ? traits_type::eof() : c;
	}
	std::streamsize xsputn(const char *s, std::streamsize n) override
	{
		return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), file_));
	}
	int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

private:
	std::FILE *file_ = nullptr;
};

// The file for a new recording, or why there is none. Never an existing
// file: an earlier recording is the user's data.
MaybeFailure CreateRecordingFile(const std::string &name, const std::filesystem::path &path, FileWriter &file)
{
	const std::string shown = EscapeControlBytes(name);
#ifndef _WIN32
	// In a shared folder a name may be another user's link planted for us to
	// write through (into a file of ours they cannot write themselves).
	struct stat link {};
	if (!path.empty() && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid != geteuid())
		return Because(shown + " is a link made by another user (uid " +
		               std::to_string(static_cast<unsigned>(link.st_uid)) + "); not writing through it");
#endif
	if (path.empty())
		return Because(shown + " cannot be written: the name is not valid text");
	errno = 0;
	file.Open(CreateNewFile(path));
	if (file.IsOpen())
		return std::nullopt;
	const int error = errno;
	std::error_code ec;
	if (error == EEXIST && !std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
		return Because(shown + " already exists; a recording is never written over (remove it or give another name)");
	return Because(shown + " cannot be written: " +
	               (error == EEXIST ? "it is a folder" : error != 0 ? std::strerror(error) : "it cannot be opened"));
}

} // namespace

RecordOutcome RecordToFile(const RecordPlan &plan, const SendToDriver &send, const RecordEvents &events)
{
	RecordOutcome outcome;
	const auto fail = [&](Failure failure) {
		outcome.failure = std::move(failure);
		if (events)
			events({.kind = RecordEvent::Kind::Failed, .failure = &*outcome.failure});
		return outcome;
	};
	SampleRecorder recorder(send);
	RecordingHeader header;
	if (MaybeFailure failure = recorder.Begin(header))
		return fail(std::move(*failure));

	const std::string shown = EscapeControlBytes(plan.file);
	const std::filesystem::path path = Utf8Path(plan.file);
	FileWriter writer;
	if (MaybeFailure failure = CreateRecordingFile(plan.file, path, writer))
		return fail(std::move(*failure));
	std::ostream file(&writer);
	const std::string header_text = FormatRecordingHeader(header);
	file << header_text << std::flush;
	if (!file)
		return fail(Because(shown + " cannot be written: the header did not fit (is the disk full?)"));

	Session session(recorder, file, events);
	outcome.failure = plan.guided ? session.Guided(plan) : session.Worn(plan.Seconds());
	outcome.readings = recorder.Readings();
	outcome.lost = recorder.Lost();
	if (outcome.failure) {
		if (!file) {
			// A full disk takes part of a line: cut back to the last whole one.
			writer.Close();
			std::error_code ec;
			std::filesystem::resize_file(path, header_text.size() + recorder.KeptBytes(), ec);
		}
		outcome.stopped_partway = true;
		return outcome;
	}
	if (recorder.Readings() == 0)
		return fail(Because("no readings came from the sensor; " + shown + " holds only the header"));
	// Readings taken at a report rate or with a calibration other than its
	// header's would mislead tune: such a file is no recording.
	// A driver that does not answer now leaves the file as it is, unchecked.
	if (MaybeFailure changed = recorder.Finish(header)) {
		outcome.stopped_partway = changed->no_reply.has_value();
		if (!outcome.stopped_partway) {
			writer.Close();
			std::error_code ec;
			changed->message += std::filesystem::remove(path, ec)
			                        ? "; " + shown + " is not usable as one recording and was removed: record again"
			                        : "; " + shown + " is not usable as one recording: remove it and record again";
		}
		return fail(std::move(*changed));
	}
	return outcome;
}

} // namespace zelvan::ctl
