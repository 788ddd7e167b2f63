// The recording format's reader and zelvan-ctl tune's scoring, on recordings
// whose right answer is known.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>

#include "sensor/proximity_algorithm.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/tune.h"
#include "tools/zelvan_ctl/tuning/tune_svg.h"

namespace zelvan::ctl {
namespace {

const std::string kHeader = "# zelvan-ctl record 1\n"
                            "# cal=1180 thresh=1500 hyst=100 trim=0\n"
                            "# moving_avg_length=8 report_rate_ms=50 threshold_offset=0 report_period_ms=50\n";

// A header, `readings` readings and then `tail` repeated without end (or
// nothing): a file far larger than memory, made as it is read.
class EndlessRecording : public std::streambuf {
public:
	EndlessRecording(size_t readings, std::string tail) : readings_(readings), tail_(std::move(tail)) { Refill(); }

protected:
	int_type underflow() override
	{
		if (gptr() == egptr())
			Refill();
		return gptr() == egptr() ? traits_type::eof() : traits_type::to_int_type(*gptr());
	}

private:
	void Refill()
	{
		chunk_.clear();
		if (!header_sent_) {
			chunk_ = kHeader;
			header_sent_ = true;
		}
		while (chunk_.size() < 4096 && written_ < readings_)
			chunk_ += std::to_string(50 * written_++) + " 300\n";
		while (chunk_.size() < 4096 && written_ == readings_ && !tail_.empty())
			chunk_ += tail_;
		setg(chunk_.data(), chunk_.data(), chunk_.data() + chunk_.size());
	}

	size_t readings_;
	std::string tail_;
	size_t written_ = 0;
	bool header_sent_ = false;
	std::string chunk_;
};

TEST(Recording, RefusesWhatIsNotOneAndSaysWhere)
{
	struct Case {
		const char *name;
		std::string text;
		size_t line;
		const char *says;
	};
	const std::string h1 = "# zelvan-ctl record 1\n";
	const std::string h2 = h1 + "# cal=1180 thresh=1500 hyst=100 trim=0\n";
	const Case cases[] = {
		{"empty file", "", 1, "empty"},
		{"another file", "hello\n", 1, "not a zelvan-ctl recording"},
		{"binary garbage", std::string("\x7f" "ELF\x02\x01\x00\x00", 8), 1, "not a zelvan-ctl recording"},
		{"a later format", "# zelvan-ctl record 2\n", 1, "format 2"},
		{"header cut short", h1, 2, "ends early"},
		{"calibration field missing", h1 + "# cal=1180 hyst=100 trim=0\n", 2, "no thresh="},
		{"calibration field garbled", h1 + "# cal=11x80 thresh=1500 hyst=100 trim=0\n", 2, "not a whole number"},
		{"calibration out of range", h1 + "# cal=1180 thresh=1500 hyst=70000 trim=0\n", 2, "out of range"},
		{"field named twice", h1 + "# cal=1 cal=2 thresh=1500 hyst=100 trim=0\n", 2, "twice"},
		{"settings line missing", h2 + "0 300\n", 3, "missing"},
		{"window out of range",
		 h2 + "# moving_avg_length=0 report_rate_ms=50 threshold_offset=0 report_period_ms=50\n", 3, "out of range"},
		{"rate out of range",
		 h2 + "# moving_avg_length=8 report_rate_ms=20 threshold_offset=0 report_period_ms=50\n", 3, "out of range"},
		{"reading out of range", kHeader + "0 300\n50 65536\n", 5, "out of range"},
		{"negative time", kHeader + "-50 300\n", 4, "out of range"},
		{"time beyond 32 bits", kHeader + "4294967296 300\n", 4, "out of range"},
		{"readings out of order", kHeader + "0 300\n100 300\n\n50 300\n", 7, "out of order"},
		{"label with a space in it", kHeader + "0 300 o n\n", 4, "not a reading"},
		{"label with other characters", kHeader + "0 300 on!\n", 4, "label"},
		{"label too long", kHeader + "0 300 " + std::string(kMaxLabelLength + 1, 'a') + "\n", 4, "label"},
		{"a label tune does not know", kHeader + "0 300 off\n50 300\n100 1900 ON\n", 6, "'ON' is not one tune knows"},
		{"garbage after readings", kHeader + "0 300\n\x01\x02\xff\xfe\n", 5, "not a reading"},
		{"a number with a sign", kHeader + "0 +300\n", 4, "not a reading"},
		{"no readings", kHeader + "# only a comment\n\n", 0, "no readings"},
		{"a huge time with escape bytes after it", kHeader + "99999999999999999999\x1b[2J 300\n", 4, "not a reading"},
		{"a huge reading with escape bytes after it", kHeader + "0 99999999999999999999\x1b]0;x\a\n", 4,
		 "not a reading"},
		{"a huge time", kHeader + "99999999999999999999 300\n", 4, "out of range"},
		{"calibration field with escape bytes", h1 + "# cal=12\x1b[31m thresh=1500 hyst=100 trim=0\n", 2,
		 "not a whole number"},
	};
	for (const Case &c : cases) {
		std::istringstream in(c.text);
		RecordingProblem problem;
		EXPECT_FALSE(ParseRecording(in, problem).has_value()) << c.name;
		EXPECT_EQ(problem.line, c.line) << c.name << ": " << problem.message;
		EXPECT_NE(problem.message.find(c.says), std::string::npos) << c.name << ": " << problem.message;
		// The message goes to a terminal: the file's bytes must not steer it.
		for (const char ch : problem.message)
			EXPECT_TRUE(ch >= 0x20 && ch != 0x7f) << c.name << ": " << problem.message;
	}
}

TEST(Recording, RefusesEndlessLinesAndTooManyReadingsWithoutReadingThemAll)
{
	struct Case {
		const char *name;
		size_t readings;
		std::string tail;
		size_t line;
		const char *says;
	};
	const Case cases[] = {
		{"one endless line after the header", 2, "7", 6, "longer than"},
		{"one more reading than a recording holds", kMaxRecordedReadings + 1, "", kMaxRecordedReadings + 4,
		 "more than"},
	};
	for (const Case &c : cases) {
		EndlessRecording source(c.readings, c.tail);
		std::istream in(&source);
		RecordingProblem problem;
		EXPECT_FALSE(ParseRecording(in, problem).has_value()) << c.name;
		EXPECT_EQ(problem.line, c.line) << c.name << ": " << problem.message;
		EXPECT_NE(problem.message.find(c.says), std::string::npos) << c.name << ": " << problem.message;
	}
}

TEST(Recording, ReadsBackWhatItWritesWithAnyLineEndsAndAByteOrderMark)
{
	Recording written;
	written.header = {65535, 900, 0, -32768, 64, 5000, -65535, 1000};
	written.readings = {{0, 0, "off"},
	                    {1000, 65535, ""},
	                    {1000, 1200, "on"},
	                    {1000, 1200, std::string(kMaxLabelLength, 'x')},
	                    {4294967295u, 7, "a-B_9"}};
	std::string text = FormatRecordingHeader(written.header) + "# a comment\n\n";
	for (const auto &r : written.readings)
		text += FormatRecordedReading(r) + "  \t\n";
	for (const auto &[crlf, bom] : {std::pair{false, false}, {true, false}, {true, true}}) {
		std::string file = (bom ? "\xef\xbb\xbf" : "") + text;
		for (size_t at = 0; crlf && (at = file.find('\n', at)) != std::string::npos; at += 2)
			file.insert(at, "\r");
		std::istringstream in(file);
		RecordingProblem problem;
		const auto read = ParseRecording(in, problem, LabelWords::AnyWord);
		ASSERT_TRUE(read.has_value()) << problem.line << ": " << problem.message;
		EXPECT_EQ(FormatRecordingHeader(read->header), FormatRecordingHeader(written.header));
		ASSERT_EQ(read->readings.size(), written.readings.size());
		for (size_t i = 0; i < written.readings.size(); ++i)
			EXPECT_EQ(FormatRecordedReading(read->readings[i]), FormatRecordedReading(written.readings[i]));
		EXPECT_TRUE(read->Labelled());
	}
}

// A synthetic wearer: phases of a level with uniform noise and spikes,
// every 50 ms, from a fixed seed so that both builds see the same trace.
struct Phase {
	const char *label; // "" for none
	int readings;
	int level;
	int noise = 0;       // uniform in [-noise, +noise]
	int spike_every = 0; // a single reading at 4000 this often
};

Recording Synthetic(const std::vector<Phase> &phases, int32_t window = 8)
{
	Recording recording;
	recording.header.moving_avg_length = window;
	recording.header.report_rate_ms = 50;
	recording.header.report_period_ms = 50;
	std::mt19937 random(7);
	uint32_t ms = 0;
	for (const Phase &p : phases) {
		for (int i = 0; i < p.readings; ++i, ms += 50) {
			int raw = p.level + (p.noise > 0 ? static_cast<int>(random() % (2 * p.noise + 1)) - p.noise : 0);
			if (p.spike_every > 0 && i % p.spike_every == p.spike_every / 2)
				raw = 4000;
			// As the sensor does: noise does not take the reading below 0.
			recording.readings.push_back({ms, static_cast<uint16_t>(std::max(raw, 0)), p.label});
		}
	}
	return recording;
}

uint32_t Flicker(const TuneScore &s)
{
	return s.labelled ? s.false_switches : s.switches;
}

TEST(Tune, RecommendsWhatTheTraceCallsFor)
{
	struct Case {
		const char *name;
		Recording recording;
		bool current_flickers;
		bool offset_down;    // the recommendation lowers the threshold
		bool window_longer;  // ... or lengthens the window
		bool cannot_tell = false;
		bool follows = true; // the recommendation follows every change
	};
	std::vector<Phase> clean, noisy, spikes, unlabelled, glasses;
	// Only a threshold under the hysteresis (never off again) sees this wearer.
	Recording stuck = Synthetic({{"off", 100, 0}, {"on", 100, 320}});
	stuck.header.thresh = 300;
	stuck.header.hyst = 250;
	for (int i = 0; i < 4; ++i) {
		clean.push_back({"off", 200, 300});
		clean.push_back({"on", 400, 2300});
		noisy.push_back({"off", 200, 300, 30});
		noisy.push_back({"on", 1500, 1560, 250});
		spikes.push_back({"off", 400, 300, 0, 40});
		spikes.push_back({"on", 200, 2000});
		unlabelled.push_back({"", 200, 300, 30});
		unlabelled.push_back({"", 1500, 1560, 250});
		glasses.push_back({"", 300, 300, 550});
		glasses.push_back({"", 300, 1520, 550});
	}
	const Case cases[] = {
		{"a clean step", Synthetic(clean), false, false, false},
		{"a wearer just above the threshold", Synthetic(noisy, 4), true, true, false},
		{"spikes while off", Synthetic(spikes, 1), true, false, true},
		{"the noisy wearer without labels", Synthetic(unlabelled, 4), true, true, false},
		{"a window too long to follow a short wear", Synthetic({{"off", 100, 300}, {"on", 20, 2300}}, 64), false, false,
		 false},
		// Its noise splits into two levels 500 apart: not a wearer's two.
		{"worn the whole time, 1900 +/- 500, without labels", Synthetic({{"", 1200, 1900, 500}}), false, false, false,
		 true},
		{"the glasses wearer without labels: 1520 +/- 550 on, 300 +/- 550 off", Synthetic(glasses), true, false,
		 false},
		{"a wearer only a threshold that never goes off sees", stuck, false, false, false, false, false},
	};
	for (const Case &c : cases) {
		const TuneResult result = Tune(c.recording);
		const TuneScore &now = result.current.score;
		const TuneScore &then = result.recommended.score;
		const TuneSettings &s = result.recommended.settings;
		// Unlabelled, the 4 times on and 3 times off are switches too.
		EXPECT_EQ(Flicker(now) > (now.labelled ? 0u : 7u), c.current_flickers) << c.name;
		const std::string report = FormatTuneReport(c.recording, result);
		EXPECT_EQ(result.cannot_tell, c.cannot_tell) << c.name << "\n" << report;
		// Never a setting that switches more, unless it follows what the current ones miss.
		EXPECT_TRUE(Flicker(then) <= Flicker(now) || then.missed < now.missed) << c.name;
		const ProximityAlgorithm::OffsetRange switching =
			ProximityAlgorithm::SwitchingOffsets(CalibrationOf(c.recording.header));
		for (const TuneCandidate &best : result.best)
			EXPECT_TRUE(best.settings.threshold_offset >= switching.min &&
			            best.settings.threshold_offset <= switching.max)
				<< c.name << ": " << best.settings.threshold_offset;
		if (c.cannot_tell) {
			EXPECT_TRUE(result.keep) << c.name;
			EXPECT_EQ(s, result.current.settings) << c.name;
			EXPECT_NE(report.find(kCannotTell), std::string::npos) << report;
			continue;
		}
		EXPECT_EQ(then.missed == 0, c.follows) << c.name;
		if (c.current_flickers) {
			EXPECT_LT(Flicker(then), Flicker(now)) << c.name;
		} else {
			EXPECT_EQ(Flicker(then), Flicker(now)) << c.name;
		}
		if (c.offset_down) {
			EXPECT_LT(s.threshold_offset, 0) << c.name;
		}
		if (c.window_longer) {
			EXPECT_GT(s.moving_avg_length, result.current.settings.moving_avg_length) << c.name;
		}
		EXPECT_EQ(result.keep, s == result.current.settings) << c.name;
		// The printed line says what is set and why.
		EXPECT_NE(report.find("recommend: " + std::string(result.keep ? "keep " : "") + "moving_avg_length=" +
		                      std::to_string(s.moving_avg_length) + " threshold_offset=" +
		                      std::to_string(s.threshold_offset)),
		          std::string::npos)
			<< report;
		// No comparison with nothing: a setting that followed no change has no times.
		EXPECT_EQ(report.find("instead of )"), std::string::npos) << report;
	}
}

// The labelled latency is counted from the last reading before the change:
// a window of N at 50 ms puts a clean 300 -> 2300 step on after the reading
// that lifts the average to T+H.
TEST(Tune, CountsLatencyAndFalseSwitchesPerPhase)
{
	struct Case {
		const char *name;
		const Recording &recording;
		TuneSettings settings;
		uint32_t on_ms;
		uint32_t false_switches;
		uint32_t missed;
	};
	const Recording step = Synthetic({{"off", 100, 300}, {"on", 100, 2300}, {"off", 100, 300}});
	// As record --guided leaves it: the move itself unlabelled.
	const Recording guided =
		Synthetic({{"off", 100, 300}, {"", 30, 300}, {"", 30, 2300}, {"on", 100, 2300}, {"off", 100, 300}});
	const Case cases[] = {
		{"window 1", step, {1, 0, 50}, 50, 0, 0},
		// (1600 - 300) / 2000 of 8 readings: the 6th reading.
		{"window 8", step, {8, 0, 50}, 300, 0, 0},
		// Every 4th reading, from each of 4 starts: the change is seen 50,
		// 100, 150 or 200 ms after the reading before it.
		{"window 1 every 200 ms", step, {1, 0, 200}, 150, 0, 0},
		{"a band above the worn level", step, {1, 1000, 50}, 0, 0, 1},
		// Timed from the step inside the move, not from the label after it.
		{"window 8, the move unlabelled", guided, {8, 0, 50}, 300, 0, 0},
	};
	for (const Case &c : cases) {
		const TuneScore score = ScoreSettings(c.recording, c.settings);
		EXPECT_EQ(score.missed, c.missed) << c.name;
		EXPECT_EQ(score.false_switches, c.false_switches) << c.name;
		if (c.missed == 0) {
			EXPECT_EQ(score.on_median_ms, c.on_ms) << c.name;
		}
	}
}

// A scratch folder of its own, removed at the end.
struct ScratchFolder {
	std::filesystem::path path = std::filesystem::temp_directory_path() /
	                             ("zelvan_tune_" + std::to_string(std::random_device()()));
	ScratchFolder() { std::filesystem::create_directories(path); }
	~ScratchFolder() { std::filesystem::remove_all(path); }
	std::string Write(const std::string &name, const std::string &text) const
	{
		std::ofstream(path / name, std::ios::binary) << text;
		return (path / name).string();
	}
};

std::string StatusLine(const RecordingHeader &h, const TuneSettings &s)
{
	std::string line = "proximity=true hid=open source=algorithm prox_raw=300 cal=" + std::to_string(h.cal) +
	                   " thresh=" + std::to_string(h.thresh) + " hyst=" + std::to_string(h.hyst) +
	                   " trim=" + std::to_string(h.trim) + " averaged_prox=300 detected=false eff_thresh=1500 samples=9" +
	                   " report_rate_ms=" + std::to_string(s.report_rate_ms) + " log_verbosity=0 moving_avg_length=" +
	                   std::to_string(s.moving_avg_length) + " ipd=63.5mm lh_config=loaded";
	return s.threshold_offset == 0 ? line : line + " threshold_offset=" + std::to_string(s.threshold_offset);
}

// The command as the user types it and the driver as it answers: what is
// sent, the exit status and what stderr says.
TEST(TuneCommand, ExitsAndAppliesAsTheDriverAnswers)
{
	std::vector<Phase> noisy;
	for (int i = 0; i < 3; ++i) {
		noisy.push_back({"off", 100, 300, 30});
		noisy.push_back({"on", 500, 1560, 250});
	}
	const Recording recording = Synthetic(noisy, 4);
	auto text_of = [](const Recording &r) {
		std::string text = FormatRecordingHeader(r.header);
		for (const auto &reading : r.readings)
			text += FormatRecordedReading(reading);
		return text;
	};
	const ScratchFolder scratch;
	const std::string file = scratch.Write("wearer.rec", text_of(recording));
	// Kept as it is: the current settings follow it already.
	const std::string clean = scratch.Write("clean.rec", text_of(Synthetic({{"off", 100, 300}, {"on", 100, 2300}})));
	// Worn all along: nothing tells the two levels apart.
	const std::string worn = scratch.Write("worn.rec", text_of(Synthetic({{"", 1200, 1900, 500}})));
	// Spikes while off call for a longer window; the sensor's threshold is
	// the one tune picks, so that its offset is 0.
	std::vector<Phase> spiky;
	for (int i = 0; i < 3; ++i) {
		spiky.push_back({"off", 400, 300, 0, 40});
		spiky.push_back({"on", 200, 2000});
	}
	Recording spikes = Synthetic(spiky, 1);
	spikes.header.thresh = static_cast<uint16_t>(spikes.header.thresh + Tune(spikes).recommended.settings.threshold_offset);
	const std::string spikes_file = scratch.Write("spikes.rec", text_of(spikes));
	const TuneSettings longer = Tune(spikes).recommended.settings;
	ASSERT_EQ(longer.threshold_offset, 0);
	ASSERT_NE(longer.moving_avg_length, 1);
	std::string shouting = FormatRecordingHeader(recording.header) + "0 300 OFF\n50 2000 ON\n";
	const std::string labels = scratch.Write("labels.rec", shouting);
	const std::string garbage = scratch.Write("garbage.rec", "\x89PNG\r\n");
	const std::string link = (scratch.path / "link.rec").string();
	std::filesystem::create_hard_link(file, link);
	const RecordingHeader &h = recording.header;
	const TuneSettings best = Tune(recording).recommended.settings;
	ASSERT_NE(best, CurrentSettings(h));
	const TuneSettings same_window{best.moving_avg_length, 0, best.report_rate_ms == 50 ? 100 : 50};
	RecordingHeader other = h;
	other.cal = static_cast<uint16_t>(h.cal + 1);
	const std::string sets = "status|set report_rate_ms " + std::to_string(best.report_rate_ms) +
	                         "|set threshold_offset " + std::to_string(best.threshold_offset);

	struct Case {
		const char *name;
		std::vector<std::string> args;
		std::string status; // empty: nothing answers
		std::string set_reply;
		int exit;
		std::string sent;
		const char *says;
		std::string shows = ""; // on stdout
	};
	const Case cases[] = {
		{"no recording named", {}, "", "", 64, "", "needs a recording"},
		{"an unknown option", {file, "--fast"}, "", "", 64, "", "does not take --fast"},
		{"a file that is not there", {scratch.path.string() + "/none.rec"}, "", "", 1, "", "cannot open"},
		{"a file that is not a recording", {garbage}, "", "", 1, "", "garbage.rec:1: not a zelvan-ctl recording"},
		{"a plot into a missing folder", {file, "--svg", scratch.path.string() + "/no/plot.svg"}, "", "", 1, "",
		 "cannot write the plot"},
		{"no driver", {file, "--apply"}, "", "", 2, "status", ""},
		{"no sensor", {file, "--apply"}, "proximity=false hid=not_connected report_rate_ms=50", "", 1, "status",
		 "no sensor connected"},
		{"another sensor", {file, "--apply"}, StatusLine(other, best), "", 1, "status", "calibration differs"},
		{"an older driver", {file, "--apply"}, StatusLine(h, same_window), "ERR unknown command", 1,
		 "status|set report_rate_ms " + std::to_string(best.report_rate_ms), "older and has no set command"},
		{"a refused value", {file, "--apply"}, StatusLine(h, same_window), "ERR out of range", 1,
		 "status|set report_rate_ms " + std::to_string(best.report_rate_ms), "ERR out of range"},
		{"only what differs is set, each named with the value it replaces", {file, "--apply"},
		 StatusLine(h, same_window), "OK", 0, sets, "",
		 "\nreport_rate_ms " + std::to_string(same_window.report_rate_ms) + " -> " +
			 std::to_string(best.report_rate_ms) + ": OK report_rate_ms=" + std::to_string(best.report_rate_ms) +
			 "\nthreshold_offset 0 -> " + std::to_string(best.threshold_offset) + ": OK threshold_offset="},
		{"keep sends nothing, also where the driver's settings changed since", {clean, "--apply"},
		 StatusLine(h, {24, 300, 50}), "OK", 0, "status", "",
		 "\nnothing sent: the driver runs with moving_avg_length=24 threshold_offset=300 now"},
		{"an offset the status leaves out is the driver's 0", {spikes_file, "--apply"},
		 StatusLine(spikes.header, {1, 0, longer.report_rate_ms}), "OK", 0,
		 "status|set moving_avg_length " + std::to_string(longer.moving_avg_length), ""},
		{"levels it cannot tell apart: nothing sent", {worn, "--apply"}, StatusLine(h, best), "OK", 1, "",
		 "cannot tell worn from not worn in this recording; record with --guided; nothing sent"},
		{"labels it does not know", {labels, "--apply"}, StatusLine(h, best), "OK", 1, "",
		 "labels.rec:4: the label 'OFF' is not one tune knows"},
		{"nothing differs", {file, "--apply"}, StatusLine(h, best), "OK", 0, "status", ""},
		{"a set answered with something else", {file, "--apply"}, StatusLine(h, same_window), "proximity=true", 1,
		 "status|set report_rate_ms " + std::to_string(best.report_rate_ms), "did not confirm"},
		{"a set answered with another value", {file, "--apply"}, StatusLine(h, same_window), "OK report_rate_ms=1",
		 1, "status|set report_rate_ms " + std::to_string(best.report_rate_ms), "did not confirm"},
		{"the second set refused: the first is named as in force", {file, "--apply"}, StatusLine(h, same_window),
		 "OK|ERR out of range", 1, sets, "only part applied: the driver runs with report_rate_ms="},
		{"the plot onto the recording itself", {file, "--svg", file}, "", "", 64, "", "the recording itself"},
		{"the plot onto the recording under another name", {file, "--svg", link}, "", "", 64, "", "the recording itself"},
	};
	for (const Case &c : cases) {
		std::string sent;
		auto send = [&](const std::string &command) {
			sent += (sent.empty() ? "" : "|") + command;
			if (c.status.empty())
				return Exchange{Outcome::NoDriver, ""};
			if (command != "status" && c.set_reply.find('|') != std::string::npos) {
				// The first set gets the reply before '|', the next the one after.
				const size_t bar = c.set_reply.find('|');
				const bool first = sent.find("|set ") == sent.rfind("|set ");
				const std::string reply = first ? c.set_reply.substr(0, bar) : c.set_reply.substr(bar + 1);
				if (reply != "OK")
					return Exchange{Outcome::Replied, reply};
			}
			if (command != "status" && c.set_reply.rfind("OK", 0) == 0 && c.set_reply.find('=') == std::string::npos) {
				// What the driver says to a set it took: "OK key=value".
				std::string taken = command.substr(4);
				taken[taken.find(' ')] = '=';
				return Exchange{Outcome::Replied, "OK " + taken};
			}
			return Exchange{Outcome::Replied, command == "status" ? c.status : c.set_reply};
		};
		auto exit_for = [](const Exchange &e) {
			return e.outcome != Outcome::Replied ? 2 : ClassifyReply(e.reply) == ReplyKind::Error ? 1 : 0;
		};
		testing::internal::CaptureStdout();
		testing::internal::CaptureStderr();
		const int status = RunTune(c.args, send, exit_for);
		const std::string out = testing::internal::GetCapturedStdout();
		const std::string said = testing::internal::GetCapturedStderr();
		EXPECT_EQ(status, c.exit) << c.name << ": " << said;
		// A set that was taken is shown as the driver confirmed it; an apply
		// that set nothing says why.
		if (!c.args.empty() && c.args.back() == "--apply" && c.exit == 0) {
			const bool any_set = c.sent.find("|set ") != std::string::npos;
			const std::string shows = !c.shows.empty() ? c.shows
			                          : any_set        ? std::string(": OK ")
			                                           : std::string("\nthe driver already runs with these settings\n");
			EXPECT_NE(out.find(shows), std::string::npos) << c.name << ": " << out;
		}
		EXPECT_EQ(sent, c.sent) << c.name;
		EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": " << said;
	}
}

TEST(TuneSvg, StaysSmallAndSelfContainedForAnHourAndReplacesWholeFiles)
{
	std::vector<Phase> hour;
	for (int i = 0; i < 36; ++i) {
		hour.push_back({"off", 400, 300, 30});
		hour.push_back({"on", 1600, 1560, 250});
	}
	const Recording recording = Synthetic(hour);
	ASSERT_EQ(recording.readings.size(), 72000u);
	TuneResult result;
	result.current.settings = CurrentSettings(recording.header);
	result.recommended.settings = {16, -300, 100};
	const std::string svg = TuneSvg(recording, result, "tune <hour> & \"more\"");
	EXPECT_LT(svg.size(), 300000u);
	for (const char *outside : {"<script", "href", "url(", "<image"})
		EXPECT_EQ(svg.find(outside), std::string::npos) << outside;
	EXPECT_NE(svg.find("tune &lt;hour&gt; &amp; &quot;more&quot;"), std::string::npos);
	// A file name's bytes in the title: only what keeps the file well-formed.
	const std::pair<std::string, std::string> titles[] = {
		{"r\xc3\xa9" "c \xf0\x9f\x98\x80", "r\xc3\xa9" "c \xf0\x9f\x98\x80"},
		{"a\xff\x80\x80" "b", "a???b"},     // no lead byte that long
		{"a\xed\xa0\x80" "b", "a???b"},     // a surrogate
		{"a\xe0\x80\xaf" "b", "a???b"},     // overlong
		{"a\xf4\x90\x80\x80" "b", "a????b"}, // past U+10FFFF
		{"a\xef\xbf\xbf" "b", "a???b"},     // not a character in XML
		{"a\xe2\x82" "b", "a??b"},           // cut short
	};
	for (const auto &[title, shown] : titles)
		EXPECT_NE(TuneSvg(Synthetic({{"off", 1, 300}}), result, title).find(">" + shown + "</text>"), std::string::npos)
		    << shown;

	namespace fs = std::filesystem;
	const fs::path dir = fs::temp_directory_path() / ("zelvan_tune_svg_" + std::to_string(std::random_device()()));
	fs::create_directories(dir / "a folder");
	const std::string plot = (dir / "plot.svg").string();
	std::string error;
	EXPECT_TRUE(WriteFileReplacing(plot, "old", error)) << error;
	EXPECT_TRUE(WriteFileReplacing(plot, svg, error)) << error;
	EXPECT_EQ(fs::file_size(plot), svg.size());
	// A folder in the way: refused, and nothing left beside it.
	EXPECT_FALSE(WriteFileReplacing((dir / "a folder").string(), svg, error));
	EXPECT_FALSE(error.empty());
	EXPECT_FALSE(WriteFileReplacing((dir / "missing" / "plot.svg").string(), svg, error));
	size_t files = 0;
	for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir))
		++files;
	EXPECT_EQ(files, 2u);
	fs::remove_all(dir);
}

} // namespace
} // namespace zelvan::ctl
