// The panel's API over the capabilities: each endpoint asks the same
// functions as the matching zelvan-ctl command and answers in JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/panel/panel_recording.h"

namespace zelvan::ctl {

struct ApiReply {
	int status = 200;
	std::string body; // JSON, or a short reason when status is not 200
};

class PanelApi {
public:
	// `send` asks the driver on `channel` (a test's scripted driver);
	// the doctor asks `channel` itself.
	PanelApi(SendToDriver send, std::string channel, std::chrono::milliseconds timeout);

	ApiReply Status(uint64_t refused) const;
	// `after`: the text of the after= parameter, or null when there is none.
	ApiReply Samples(const std::string *after) const;
	// The bodies are the request's text: a JSON object, strictly checked.
	ApiReply Presence(const std::string &body) const;
	ApiReply Ipd(const std::string &body) const;
	ApiReply Doctor() const;

	// The guided recording into the recordings folder, on its own thread.
	ApiReply Record(const std::string &body);
	ApiReply RecordEvents(const std::string *after) const;
	ApiReply CancelRecording(const std::string &body);
	ApiReply Recordings() const;
	// Tune's recommendation for one of the recordings, and its hand-over.
	ApiReply Tune(const std::string &body) const;
	ApiReply TuneApply(const std::string &body) const;
	// doctor --fix, as a dry run or for real.
	ApiReply Mend(const std::string *body) const;
	// The bug report, into a new file in the reports folder.
	ApiReply Report(const std::string &body) const;
	ApiReply Kept() const;
	ApiReply KeptRestore(const std::string &body) const;

	// The panel stays while a recording runs, and ends it when it ends.
	bool Recording() const;
	void StopRecording();

private:
	SendToDriver send_;
	std::string channel_;
	std::chrono::milliseconds timeout_;
	// Shared with nothing: held by pointer so that the API moves into the server.
	std::unique_ptr<PanelRecording> recording_;
};

} // namespace zelvan::ctl
