// zelvan-ctl record: the sensor's raw readings, polled from the running
// driver, into a recording that `zelvan-ctl tune` and the simulated sensor
// read (the format is in recording.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/tuning/recording.h"

namespace zelvan::ctl {

// One command to the driver and what came back.
using SendToDriver = std::function<Exchange(const std::string &command)>;
// Says why an exchange got no reply and gives the exit status for it.
using NoReplyExit = std::function<int(const Exchange &exchange)>;

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
// that the prompts and the clock stay with the caller. Messages for the user
// go to `messages`; every failure returns the program's exit status.
class SampleRecorder {
public:
	SampleRecorder(SendToDriver send, NoReplyExit no_reply, std::ostream &messages);

	// The calibration and settings from `status`, and where the readings
	// start. Called before the file is opened, so that a driver that cannot
	// be recorded leaves no file behind.
	int Begin(RecordingHeader &header);
	// Writes the readings that came since the last call, each with `label`,
	// and flushes them, so that an interrupted recording keeps them.
	int Collect(std::ostream &file, const std::string &label);

	size_t Readings() const { return readings_; }
	// Bytes of readings written and flushed whole: after a failed write the
	// file is cut back to them, so that it never ends in half a line.
	uint64_t KeptBytes() const { return kept_bytes_; }
	uint64_t Lost() const { return lost_; }

private:
	int Ask(const std::string &command, std::string &reply);
	int Fetch(std::ostream &file, const std::string &label, bool &more);

	SendToDriver send_;
	NoReplyExit no_reply_;
	std::ostream &messages_;
	uint32_t next_ = 0;
	std::optional<uint32_t> first_ms_;
	size_t readings_ = 0;
	uint64_t lost_ = 0;
	uint64_t kept_bytes_ = 0;
	uint64_t unflushed_bytes_ = 0;
};

// `args` follow "record": [--seconds S] [--guided] [--count-down S] FILE.
int RunRecord(const std::vector<std::string> &args, const SendToDriver &send, const NoReplyExit &no_reply);

} // namespace zelvan::ctl
