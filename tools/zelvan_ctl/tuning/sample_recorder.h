// The sensor's raw readings, polled from the running driver, into a
// recording that tune and the simulated sensor read (the format is in
// recording.h).
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/failure.h"
#include "tools/zelvan_ctl/tuning/recording.h"

namespace zelvan::ctl {

// One reading of a `samples N` reply: its number, raw value and time.
struct DriverSample {
	uint32_t number = 0;
	uint16_t raw = 0;
	uint32_t ms = 0; // on the driver's clock
};

// "OK next=M[ lost=K] S:R:T ...". Nothing when the reply is not that.
struct SamplesReply {
	uint32_t next = 0;
	uint32_t lost = 0;
	std::vector<DriverSample> samples;
};
std::optional<SamplesReply> ParseSamplesReply(const std::string &reply);

// Polls the driver's readings into a recording, one Collect at a time, so
// that the prompts and the clock stay with the caller.
class SampleRecorder {
public:
	explicit SampleRecorder(SendToDriver send);

	// The calibration and settings from `status`, and where the readings
	// start. Called before the file is opened, so that a driver that cannot
	// be recorded leaves no file behind.
	MaybeFailure Begin(RecordingHeader &header);
	// After the last Collect: the calibration and settings of the status
	// now against those of `header` (from Begin); a failure names each
	// that changed, since readings taken at another setting do not fit it.
	MaybeFailure Finish(const RecordingHeader &header);
	// Writes the readings that came since the last call, each with `label`,
	// and flushes them, so that an interrupted recording keeps them.
	MaybeFailure Collect(std::ostream &file, const std::string &label);
	// A warning the user should see once (readings the driver no longer
	// kept), taken by the caller; empty when there is none new.
	std::string TakeWarning() { return std::exchange(warning_, {}); }

	size_t Readings() const { return readings_; }
	// Bytes of readings written and flushed whole: after a failed write the
	// file is cut back to them, so that it never ends in half a line.
	uint64_t KeptBytes() const { return kept_bytes_; }
	uint64_t Lost() const { return lost_; }

private:
	// `poll`: one of the recording's polls, tried again when not answered.
	MaybeFailure Ask(const std::string &command, std::string &reply, bool poll = false);
	MaybeFailure Fetch(std::ostream &file, const std::string &label, bool &more);

	SendToDriver send_;
	std::string warning_;
	uint32_t next_ = 0;
	std::optional<uint32_t> first_ms_;
	size_t readings_ = 0;
	uint64_t lost_ = 0;
	uint64_t kept_bytes_ = 0;
	uint64_t unflushed_bytes_ = 0;
};

} // namespace zelvan::ctl
