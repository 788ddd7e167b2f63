// The panel's endpoints: requests checked strictly, then the command line's
// own functions, their answers as JSON.
#include "tools/zelvan_ctl/panel/panel_api.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/zelvan_ctl/channel/proximity_command.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/doctor/bug_report.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/doctor/kept_copies.h"
#include "tools/zelvan_ctl/panel/panel_folders.h"
#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/sample_recorder.h"
#include "tools/zelvan_ctl/tuning/tune.h"
#include "tools/zelvan_ctl/tuning/tune_apply.h"
#include "tools/zelvan_ctl/tuning/tune_report.h"
#include "tools/zelvan_ctl/tuning/tune_svg.h"

namespace zelvan::ctl {
namespace {

using nlohmann::json;

// Bytes from the driver that are not UTF-8 become U+FFFD, not an exception.
ApiReply Json(const json &value)
{
	return {200, value.dump(-1, ' ', false, json::error_handler_t::replace)};
}

ApiReply Refuse(std::string reason)
{
	return {400, std::move(reason)};
}

// The body as an object whose keys are all among `known`; null otherwise.
json ObjectBody(const std::string &body, std::initializer_list<const char *> known, std::string &error)
{
	json parsed = json::parse(body, nullptr, false);
	if (parsed.is_discarded() || !parsed.is_object()) {
		error = "the body is not a JSON object";
		return nullptr;
	}
	for (const auto &item : parsed.items()) {
		bool found = false;
		for (const char *key : known)
			found = found || item.key() == key;
		if (!found) {
			error = "unknown field";
			return nullptr;
		}
	}
	return parsed;
}

// A duration as the command line passes it on: digits, then s, m or h at
// most; the driver checks the range.
bool DurationWord(const std::string &text)
{
	size_t digits = 0;
	while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
		++digits;
	if (digits == 0 || digits > 6)
		return false;
	return digits == text.size() ||
	       (digits + 1 == text.size() && (text[digits] == 's' || text[digits] == 'm' || text[digits] == 'h'));
}

// The text of an after= parameter as a number: digits only.
bool AfterNumber(const std::string &text, uint32_t &number)
{
	const char *end = text.data() + text.size();
	const auto parsed = std::from_chars(text.data(), end, number);
	return !text.empty() && parsed.ec == std::errc() && parsed.ptr == end && text[0] != '+';
}

// A file's name in one of the panel's folders, never a way out of it: no
// separator, drive, parent, NUL or control byte.
bool PlainName(const std::string &name)
{
	if (name.empty() || name.size() > 255 || name == "." || name.find("..") != std::string::npos)
		return false;
	return std::none_of(name.begin(), name.end(), [](char c) {
		return c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20;
	});
}

// The body {"name": N, ...} with N a plain name; empty with `error`, which
// is `refusal` for a name that is not one.
std::string NameOf(const std::string &body, std::initializer_list<const char *> known, const char *refusal,
                   json &request, std::string &error)
{
	request = ObjectBody(body, known, error);
	if (request.is_null())
		return {};
	const auto name = request.find("name");
	if (name == request.end() || !name->is_string() || !PlainName(name->get<std::string>())) {
		error = refusal;
		return {};
	}
	return name->get<std::string>();
}

// A body that must be the empty object {}.
bool EmptyBody(const std::string &body, std::string &error)
{
	return !ObjectBody(body, {}, error).is_null();
}

json SettingsJson(const TuneCandidate &candidate)
{
	return {{"moving_avg_length", candidate.settings.moving_avg_length},
	        {"threshold_offset", candidate.settings.threshold_offset},
	        {"report_rate_ms", candidate.settings.report_rate_ms},
	        {"describe", Describe(candidate.score)}};
}

const char *MendKind(MendLine::Kind kind)
{
	switch (kind) {
	case MendLine::Kind::Done:
		return "done";
	case MendLine::Kind::Failed:
		return "failed";
	case MendLine::Kind::Left:
		return "left";
	case MendLine::Kind::Note:
		break;
	}
	return "note";
}

// The recording named in a request, read from the recordings folder.
struct NamedRecording {
	std::optional<ApiReply> refused;
	std::string name;
	std::string path;
	Recording recording;
};

NamedRecording LoadNamed(const std::string &body)
{
	NamedRecording named;
	json request;
	std::string error;
	named.name = NameOf(body, {"name"}, "name is a recording's file name", request, error);
	if (named.name.empty()) {
		named.refused = Refuse(error);
		return named;
	}
	std::string folder;
	if (!PanelFolder("recordings", folder, error)) {
		named.refused = ApiReply{500, error};
		return named;
	}
	named.path = JoinUtf8(folder, named.name);
	std::error_code ec;
	if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(Utf8Path(named.path), ec))) {
		named.refused = ApiReply{404, "no such recording"};
		return named;
	}
	auto recording = LoadRecordingFile(named.path, error);
	if (!recording) {
		named.refused = ApiReply{422, error};
		return named;
	}
	named.recording = std::move(*recording);
	return named;
}

std::string FailureText(const Failure &failure, const std::string &channel)
{
	return failure.no_reply ? WhyNoReply(*failure.no_reply, channel) : failure.message;
}

constexpr const char *kRecordingRuns = "a recording is running";

} // namespace

PanelApi::PanelApi(SendToDriver send, std::string channel, std::chrono::milliseconds timeout)
    : send_(std::move(send)), channel_(std::move(channel)), timeout_(timeout),
      recording_(std::make_unique<PanelRecording>())
{
}

ApiReply PanelApi::Status(uint64_t refused) const
{
	const Exchange exchange = send_("status");
	const bool reachable = exchange.outcome == Outcome::Replied;
	// The first headset has no IPD motor, and its driver says so.
	json model = nullptr;
	if (reachable) {
		const Exchange ipd = send_("ipd?");
		if (ipd.outcome == Outcome::Replied && ipd.reply == "ERR ipd not supported on Zelvan 1")
			model = "Zelvan 1";
		else if (ipd.outcome == Outcome::Replied && ClassifyReply(ipd.reply) != ReplyKind::Error)
			model = "Zelvan 2";
	}
	return Json({{"reachable", reachable},
	             {"status", reachable ? ReplyToJson(exchange.reply) : json(nullptr)},
	             {"why", reachable ? std::string() : WhyNoReply(exchange, channel_)},
	             {"refused", refused},
	             {"model", model},
	             {"vrserver_running", IsVrServerRunning()},
	             {"record", recording_->Summary()}});
}

ApiReply PanelApi::Samples(const std::string *after) const
{
	std::string command = "samples";
	if (after != nullptr) {
		uint32_t number = 0;
		if (!AfterNumber(*after, number))
			return Refuse("after is a reading's number");
		command += " " + std::to_string(number);
	}
	const Exchange exchange = send_(command);
	if (exchange.outcome != Outcome::Replied)
		return Json({{"error", WhyNoReply(exchange, channel_)}});
	if (exchange.reply == "ERR unknown command")
		return Json({{"error", "the running driver is older and has no samples command; update it"}});
	const auto reply = ParseSamplesReply(exchange.reply);
	if (!reply)
		return Json({{"error", exchange.reply}});
	json samples = json::array();
	for (const DriverSample &sample : reply->samples)
		samples.push_back({sample.number, sample.raw, sample.ms});
	return Json({{"next", reply->next}, {"lost", reply->lost}, {"samples", std::move(samples)}});
}

ApiReply PanelApi::Presence(const std::string &body) const
{
	std::string error;
	const json request = ObjectBody(body, {"mode", "persist", "for"}, error);
	if (request.is_null())
		return Refuse(error);
	const auto mode = request.find("mode");
	if (mode == request.end() || !mode->is_string() ||
	    (*mode != "on" && *mode != "off" && *mode != "auto"))
		return Refuse("mode is on, off or auto");
	const auto persist = request.find("persist");
	if (persist != request.end() && !persist->is_boolean())
		return Refuse("persist is true or false");
	const auto hold = request.find("for");
	if (hold != request.end() && (!hold->is_string() || !DurationWord(hold->get<std::string>())))
		return Refuse("for is seconds, or a whole number with s, m or h (90s, 10m, 2h)");
	std::vector<std::string> words;
	if (!ProximityCommand(mode->get<std::string>(), persist != request.end() && persist->get<bool>(),
	                      hold != request.end(), hold != request.end() ? hold->get<std::string>() : "", words,
	                      error))
		return Refuse(error);
	std::string command;
	for (const std::string &word : words)
		command += (command.empty() ? "" : " ") + word;
	const Exchange exchange = send_(command);
	if (exchange.outcome != Outcome::Replied)
		return Json({{"ok", false}, {"reply", WhyNoReply(exchange, channel_)}});
	return Json({{"ok", ClassifyReply(exchange.reply) != ReplyKind::Error}, {"reply", exchange.reply}});
}

ApiReply PanelApi::Ipd(const std::string &body) const
{
	std::string error;
	const json request = ObjectBody(body, {"mm"}, error);
	if (request.is_null())
		return Refuse(error);
	const auto mm = request.find("mm");
	if (mm == request.end() || !mm->is_number())
		return Refuse("mm is a number");
	const double value = mm->get<double>();
	if (!(value >= 48.0 && value <= 75.0))
		return Refuse("mm is 48 to 75");
	// The shortest text that reads back as the number, whatever the locale.
	char text[32];
	const auto written = std::to_chars(text, text + sizeof(text), value);
	const Exchange exchange = send_("ipd " + std::string(text, written.ptr));
	if (exchange.outcome != Outcome::Replied)
		return Json({{"ok", false}, {"reply", WhyNoReply(exchange, channel_)}});
	return Json({{"ok", ClassifyReply(exchange.reply) != ReplyKind::Error}, {"reply", exchange.reply}});
}

ApiReply PanelApi::Doctor() const
{
	return Json(FindingsJson(Examine(channel_, timeout_)));
}

ApiReply PanelApi::Record(const std::string &body)
{
	std::string error;
	const json request = ObjectBody(body, {"seconds", "count_down"}, error);
	if (request.is_null())
		return Refuse(error);
	RecordPlan plan;
	plan.guided = true;
	plan.seconds = kPhaseSeconds;
	if (const auto seconds = request.find("seconds"); seconds != request.end()) {
		if (!seconds->is_number() || !(seconds->get<double>() >= 1 && seconds->get<double>() <= 60))
			return Refuse("seconds is a number from 1 to 60");
		plan.seconds = seconds->get<double>();
	}
	if (const auto count = request.find("count_down"); count != request.end()) {
		if (!count->is_number_integer() || count->get<int64_t>() < 0 || count->get<int64_t>() > 10)
			return Refuse("count_down is whole seconds from 0 to 10");
		plan.count_down = count->get<int>();
	}
	if (recording_->Running())
		return {409, kRecordingRuns};
	std::string folder;
	if (!PanelFolder("recordings", folder, error))
		return {500, error};
	// Two starts in one second get -2, -3: names still sort by time.
	std::string name;
	std::error_code ec;
	for (int n = 1; n < 100 && name.empty(); ++n) {
		const std::string candidate = "guided-" + LocalStamp() + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt";
		if (!std::filesystem::exists(std::filesystem::symlink_status(Utf8Path(JoinUtf8(folder, candidate)), ec)))
			name = candidate;
	}
	if (name.empty())
		return {500, "no free name for a recording in " + folder};
	plan.file = JoinUtf8(folder, name);
	if (!recording_->Start(plan, name, send_, channel_))
		return {409, kRecordingRuns};
	return Json({{"ok", true}, {"file", name}, {"folder", folder}});
}

ApiReply PanelApi::RecordEvents(const std::string *after) const
{
	uint32_t number = 0;
	if (after != nullptr && !AfterNumber(*after, number))
		return Refuse("after is an event's number");
	return Json(recording_->Events(number));
}

ApiReply PanelApi::CancelRecording(const std::string &body)
{
	std::string error;
	if (!EmptyBody(body, error))
		return Refuse(error);
	return Json({{"ok", recording_->Cancel()}});
}

ApiReply PanelApi::Recordings() const
{
	std::string folder, error;
	if (!PanelFolder("recordings", folder, error))
		return {500, error};
	json recordings = json::array();
	std::vector<std::pair<std::string, uintmax_t>> found;
	std::error_code ec;
	for (const auto &entry : std::filesystem::directory_iterator(Utf8Path(folder), ec)) {
		std::error_code entry_ec;
		const std::string name = Utf8String(entry.path().filename());
		if (name.empty() || !PlainName(name) || !entry.is_regular_file(entry_ec) || entry.is_symlink(entry_ec))
			continue;
		found.emplace_back(name, entry.file_size(entry_ec));
	}
	std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
	for (const auto &[name, bytes] : found)
		recordings.push_back({{"name", name}, {"bytes", bytes}});
	return Json({{"folder", folder}, {"recordings", std::move(recordings)}});
}

ApiReply PanelApi::Tune(const std::string &body) const
{
	const NamedRecording named = LoadNamed(body);
	if (named.refused)
		return *named.refused;
	const TuneResult result = zelvan::ctl::Tune(named.recording);
	return Json({{"report", FormatTuneReport(named.recording, result)},
	             {"svg", TuneSvg(named.recording, result, "zelvan-ctl tune " + named.name)},
	             {"current", SettingsJson(result.current)},
	             {"recommended", SettingsJson(result.recommended)},
	             {"keep", result.keep},
	             {"reason", result.cannot_tell ? std::string(kCannotTell) : result.reason},
	             {"cannot_tell", result.cannot_tell},
	             {"file", named.path}});
}

ApiReply PanelApi::TuneApply(const std::string &body) const
{
	const NamedRecording named = LoadNamed(body);
	if (named.refused)
		return *named.refused;
	// Settings changed under a recording make it no recording.
	if (recording_->Running())
		return {409, kRecordingRuns};
	const TuneResult result = zelvan::ctl::Tune(named.recording);
	if (result.cannot_tell)
		return Json({{"ok", false}, {"confirmed", json::array()}, {"already", false}, {"differs", ""},
		             {"error", std::string(kCannotTell) + "; nothing sent to the driver"}});
	const ApplyOutcome outcome =
		ApplySettings(named.recording.header, result.recommended.settings, result.keep, send_);
	json error = nullptr;
	if (outcome.failure) {
		std::string text = FailureText(*outcome.failure, channel_);
		if (!outcome.applied.empty())
			text += "; only part applied: the driver runs with" + outcome.applied + " now and the rest as it was";
		error = text;
	}
	return Json({{"ok", !outcome.failure},
	             {"confirmed", outcome.confirmed},
	             {"already", outcome.already},
	             {"differs", outcome.differs},
	             {"error", error}});
}

ApiReply PanelApi::Mend(const std::string *body) const
{
	std::string error;
	if (body != nullptr && !EmptyBody(*body, error))
		return Refuse(error);
	const MendReport report = zelvan::ctl::Mend(LookUpRuntime(), body == nullptr);
	json lines = json::array();
	for (const MendLine &line : report.lines)
		lines.push_back({{"kind", MendKind(line.kind)}, {"text", line.text}});
	return Json({{"vrserver_running", IsVrServerRunning()},
	             {"refused", report.refused},
	             {"failed", report.failed},
	             {"lines", std::move(lines)}});
}

ApiReply PanelApi::Report(const std::string &body) const
{
	std::string error, folder;
	if (!EmptyBody(body, error))
		return Refuse(error);
	if (!PanelFolder("reports", folder, error))
		return {500, error};
	const std::string text = BugReport(channel_, timeout_);
	std::filesystem::path path;
	std::FILE *file = CreateReportFile(Utf8Path(folder), path);
	const std::string shown = Utf8String(path);
	if (file == nullptr)
		return {500, "cannot create " + shown + ": " + std::strerror(errno)};
	const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
	if (std::fclose(file) != 0 || !written) {
		std::error_code ignored;
		std::filesystem::remove(path, ignored);
		return {500, "cannot write " + shown};
	}
	return Json({{"file", shown}, {"text", text}});
}

ApiReply PanelApi::Kept() const
{
	const KeptCopies kept = ListKeptCopies();
	json copies = json::array();
	for (const KeptCopy &copy : kept.copies)
		copies.push_back({{"name", copy.name}, {"serial", copy.serial}, {"original", copy.original}});
	return Json({{"folder", kept.folder}, {"note", kept.note}, {"copies", std::move(copies)}});
}

ApiReply PanelApi::KeptRestore(const std::string &body) const
{
	json request;
	std::string error;
	const std::string name = NameOf(body, {"name", "confirm"}, "name is a kept copy's file name", request, error);
	if (name.empty())
		return Refuse(error);
	const auto confirm = request.find("confirm");
	if (confirm != request.end() && !confirm->is_boolean())
		return Refuse("confirm is true or false");
	const RestorePlan plan = PrepareRestore(name, channel_, timeout_);
	if (confirm == request.end() || !confirm->get<bool>())
		return Json({{"ok", plan.error.empty()}, {"error", plan.error}, {"differences", plan.differences}});
	if (!plan.error.empty())
		return Json({{"ok", false}, {"message", plan.error}});
	if (plan.differences.empty())
		return Json({{"ok", true},
		             {"message", "the headset " + plan.serial + " already holds " + plan.copy_path + "; nothing to upload"}});
	const RestoreResult result = Restore(plan);
	return Json({{"ok", result.ok}, {"message", result.message}});
}

bool PanelApi::Recording() const
{
	return recording_->Running();
}

void PanelApi::StopRecording()
{
	recording_->Stop();
}

} // namespace zelvan::ctl
