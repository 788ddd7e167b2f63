// A recording of the sensor's raw readings, as `zelvan-ctl record` writes it
// and `zelvan-ctl tune` and the simulated sensor's replay read it:
//
//   # zelvan-ctl record 1
//   # cal=1180 thresh=1500 hyst=100 trim=0
//   # moving_avg_length=8 report_rate_ms=50 threshold_offset=0 report_period_ms=50
//   0 304
//   50 321 off
//   ...
//
// The header lines start with '#', so readers that only want "MS READING"
// take them as comments. Each reading is the milliseconds since the first
// reading, the raw value and, in a guided recording, the label of the phase
// it was taken in ("on" or "off"). A label is a word of letters, digits, '-'
// and '_', at most kMaxLabelLength long; tune knows only "on" and "off" and
// refuses a recording with any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "sensor/user_signature.h"

namespace zelvan::ctl {

// About 14 hours at the fastest report rate: more is not a recording.
inline constexpr size_t kMaxRecordedReadings = 1000000;
inline constexpr size_t kMaxLabelLength = 32;

struct RecordingHeader {
	uint16_t cal = 0;
	uint16_t thresh = 1500;
	uint16_t hyst = 100;
	int16_t trim = 0;
	int32_t moving_avg_length = 8;
	int32_t report_rate_ms = 200;
	int32_t threshold_offset = 0;
	uint32_t report_period_ms = 200; // the period the readings were taken at
};

struct RecordedReading {
	uint32_t ms = 0;
	uint16_t raw = 0;
	std::string label; // empty: none; otherwise letters, digits, '-' and '_'
};

struct Recording {
	RecordingHeader header;
	std::vector<RecordedReading> readings;
	bool Labelled() const;
};

// The header's lines, each ending in '\n'.
std::string FormatRecordingHeader(const RecordingHeader &header);
// "MS READING" or "MS READING LABEL", ending in '\n'.
std::string FormatRecordedReading(const RecordedReading &reading);

struct RecordingProblem {
	size_t line = 0; // 1-based; 0 when the problem is not one line's
	std::string message;
};

// Which labels a reader takes: any word, or only the phases tune scores.
enum class LabelWords { OnOff, AnyWord };

// Reads a whole recording. Nothing when the text is not one: `problem` then
// says where and why (garbage, a missing or wrong header, readings out of
// order, too many readings, a label that is not a word or not one `labels`
// takes).
std::optional<Recording> ParseRecording(std::istream &in, RecordingProblem &problem,
                                        LabelWords labels = LabelWords::OnOff);

// Reads the recording in the file named `file` (UTF-8), for tune: only "on"
// and "off" labels. Nothing when it
// cannot: `error` then starts with the escaped name, and the line when the
// problem is one line's ("FILE:LINE: ...").
std::optional<Recording> LoadRecordingFile(const std::string &file, std::string &error);

// The calibration the recording was taken with, for the detector.
UserSignature CalibrationOf(const RecordingHeader &header);

} // namespace zelvan::ctl
