// `zelvan-ctl tune FILE [--svg OUT] [--apply]`: reads the recording, prints
// the recommendation, plots it and hands it to the running driver.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/tuning/tune.h"
#include "tools/zelvan_ctl/tuning/tune_svg.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"

namespace zelvan::ctl {
namespace {


struct TuneArgs {
	std::string file;
	std::string svg;
	bool apply = false;
};

bool ParseArgs(const std::vector<std::string> &args, TuneArgs &out)
{
	for (size_t i = 0; i < args.size(); ++i) {
		const std::string &a = args[i];
		if (a == "--svg" && i + 1 < args.size() && !args[i + 1].empty()) {
			out.svg = args[++i];
		} else if (a == "--apply") {
			out.apply = true;
		} else if (a.rfind("--", 0) == 0 || !out.file.empty() || a.empty()) {
			std::fprintf(stderr, "zelvan-ctl: tune does not take %s (tune FILE [--svg OUT] [--apply])\n",
			             a == "--svg" ? "--svg without a file name" : EscapeControlBytes(a).c_str());
			return false;
		} else {
			out.file = a;
		}
	}
	if (out.file.empty()) {
		std::fprintf(stderr, "zelvan-ctl: tune needs a recording (tune FILE [--svg OUT] [--apply])\n");
		return false;
	}
	return true;
}

std::optional<Recording> Load(const std::string &file)
{
	const std::string shown = EscapeControlBytes(file);
	const std::filesystem::path path = Utf8Path(file);
	std::error_code ec;
	if (std::filesystem::is_directory(path, ec)) {
		std::fprintf(stderr, "zelvan-ctl: %s: is a folder, not a recording\n", shown.c_str());
		return std::nullopt;
	}
	std::ifstream in(path, std::ios::binary);
	if (path.empty() || !in) {
		std::fprintf(stderr, "zelvan-ctl: %s: cannot open it: %s\n", shown.c_str(),
		             path.empty() ? "the name is not valid text" : std::strerror(errno));
		return std::nullopt;
	}
	RecordingProblem problem;
	auto recording = ParseRecording(in, problem);
	if (!recording) {
		if (in.bad())
			std::fprintf(stderr, "zelvan-ctl: %s: could not read it\n", shown.c_str());
		else if (problem.line > 0)
			std::fprintf(stderr, "zelvan-ctl: %s:%zu: %s\n", shown.c_str(), problem.line, problem.message.c_str());
		else
			std::fprintf(stderr, "zelvan-ctl: %s: %s\n", shown.c_str(), problem.message.c_str());
	}
	return recording;
}

std::string CalibrationText(int64_t cal, int64_t thresh, int64_t hyst, int64_t trim)
{
	return "cal=" + std::to_string(cal) + " thresh=" + std::to_string(thresh) + " hyst=" + std::to_string(hyst) +
	       " trim=" + std::to_string(trim);
}

// One set command; true when the driver took it.
bool Set(const std::string &key, int32_t value, const TuneSendFn &send, const TuneExitFn &exit_for, int &status)
{
	const std::string command = "set " + key + " " + std::to_string(value);
	const Exchange exchange = send(command);
	if (exchange.outcome != Outcome::Replied) {
		status = exit_for(exchange);
		return false;
	}
	const std::string reply = EscapeControlBytes(exchange.reply);
	// Taken only when the driver says it holds the value now.
	if (exchange.reply == "OK " + key + "=" + std::to_string(value)) {
		std::printf("%s\n", reply.c_str());
		return true;
	}
	if (exchange.reply.rfind("ERR unknown command", 0) == 0)
		std::fprintf(stderr, "zelvan-ctl: the running driver is older and has no set command; update it\n");
	else if (ClassifyReply(exchange.reply) == ReplyKind::Error)
		std::fprintf(stderr, "zelvan-ctl: the driver refused %s: %s\n", command.c_str(), reply.c_str());
	else
		std::fprintf(stderr, "zelvan-ctl: the driver did not confirm %s (it replied '%s')\n", command.c_str(),
		             reply.c_str());
	status = kExitError;
	return false;
}

int64_t Field(const nlohmann::json &status, const char *key, int64_t fallback)
{
	const auto it = status.find(key);
	return it != status.end() && it->is_number_integer() ? it->get<int64_t>() : fallback;
}

// Sends the recommendation to the driver: only to the sensor the recording
// was taken with, and only the values the driver does not have already.
int Apply(const Recording &recording, const TuneSettings &settings, const TuneSendFn &send,
          const TuneExitFn &exit_for)
{
	const Exchange exchange = send("status");
	if (exchange.outcome != Outcome::Replied || ClassifyReply(exchange.reply) == ReplyKind::Error) {
		if (exchange.outcome == Outcome::Replied)
			std::fprintf(stderr, "zelvan-ctl: %s\n", EscapeControlBytes(exchange.reply).c_str());
		return exit_for(exchange);
	}
	const nlohmann::json status = ReplyToJson(exchange.reply);
	for (const char *key : {"cal", "thresh", "hyst", "trim"}) {
		if (Field(status, key, -1000000) == -1000000) {
			std::fprintf(stderr, "zelvan-ctl: the driver has no sensor connected (its status shows no %s); "
			                     "nothing applied\n", key);
			return kExitError;
		}
	}
	const RecordingHeader &h = recording.header;
	const std::string driver = CalibrationText(Field(status, "cal", 0), Field(status, "thresh", 0),
	                                           Field(status, "hyst", 0), Field(status, "trim", 0));
	const std::string recorded = CalibrationText(h.cal, h.thresh, h.hyst, h.trim);
	if (driver != recorded) {
		std::fprintf(stderr,
		             "zelvan-ctl: the sensor's calibration differs from the recording's; nothing applied\n"
		             "  sensor:    %s\n  recording: %s\n", driver.c_str(), recorded.c_str());
		return kExitError;
	}
	const std::pair<const char *, int32_t> wanted[] = {{"report_rate_ms", settings.report_rate_ms},
	                                                   {"moving_avg_length", settings.moving_avg_length},
	                                                   {"threshold_offset", settings.threshold_offset}};
	bool changed = false;
	std::string applied; // the sets taken so far, named when a later one fails
	for (const auto &[key, value] : wanted) {
		// An absent threshold_offset is 0; an absent setting is sent anyway.
		const int64_t now = Field(status, key, std::strcmp(key, "threshold_offset") == 0 ? 0 : INT64_MIN);
		if (now == value)
			continue;
		int exit_status = kExitOk;
		if (!Set(key, value, send, exit_for, exit_status)) {
			if (changed)
				std::fprintf(stderr, "zelvan-ctl: only part applied: the driver runs with%s now and the rest as it was\n",
				             applied.c_str());
			return exit_status;
		}
		changed = true;
		applied += " " + std::string(key) + "=" + std::to_string(value);
	}
	if (!changed)
		std::printf("the driver already runs with these settings\n");
	return kExitOk;
}

} // namespace

int RunTune(const std::vector<std::string> &args, const TuneSendFn &send, const TuneExitFn &exit_for)
{
	TuneArgs options;
	if (!ParseArgs(args, options))
		return kExitUsage;
	// The plot is written by replacing: onto the recording, it would be lost.
	std::error_code same_error;
	if (!options.svg.empty() &&
	    std::filesystem::equivalent(Utf8Path(options.file), Utf8Path(options.svg), same_error)) {
		std::fprintf(stderr, "zelvan-ctl: %s is the recording itself; write the plot to another file\n",
		             EscapeControlBytes(options.svg).c_str());
		return kExitUsage;
	}
	const auto recording = Load(options.file);
	if (!recording)
		return kExitError;
	const TuneResult result = Tune(*recording);
	std::fputs(FormatTuneReport(*recording, result).c_str(), stdout);
	std::fflush(stdout);
	if (!options.svg.empty()) {
		const std::string base = Utf8String(Utf8Path(options.file).filename());
		const std::string name = base.empty() ? options.file : base;
		std::string error;
		if (!WriteFileReplacing(options.svg, TuneSvg(*recording, result, "zelvan-ctl tune " + name), error)) {
			std::fprintf(stderr, "zelvan-ctl: %s: cannot write the plot: %s\n", EscapeControlBytes(options.svg).c_str(),
			             error.c_str());
			return kExitError;
		}
		std::printf("plot: %s\n", EscapeControlBytes(options.svg).c_str());
	}
	if (options.apply)
		return Apply(*recording, result.recommended.settings, send, exit_for);
	return kExitOk;
}

} // namespace zelvan::ctl
