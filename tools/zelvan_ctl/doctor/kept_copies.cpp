// Listing the kept copies of the headset's configuration, and restoring one
// through the console tool with the driver's own runner.
#include "tools/zelvan_ctl/doctor/kept_copies.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>
#include <openvr_driver.h>

#include "core/driver_log.h"
#include "ipd/console_runner.h"
#include "ipd/ipd_persistence.h"
#include "ipd/kept_config.h"
#include "ipd/runtime_paths.h"
#include "ipd/serial_check.h"
#include "ipd/temp_folder.h"
#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"

namespace zelvan::ctl {
namespace {

// Each run of the tool, as long as the driver gives its two together.
constexpr auto kToolBudget = std::chrono::milliseconds(15000);
const char *const kDownloadName = "zelvan_ipd_dl.json";
const char *const kUploadName = "zelvan_ipd_ul.json";

// The driver's code reports through its log: here the lines become the
// reason given.
class LastLine : public vr::IVRDriverLog {
public:
	LastLine() { AttachDriverLog(this); }
	~LastLine() { DetachDriverLog(); }
	void Log(const char *line) override
	{
		text = line;
		while (!text.empty() && text.back() == '\n')
			text.pop_back();
	}
	std::string text;
};

std::vector<std::string> Lines(const std::string &text)
{
	std::vector<std::string> lines;
	size_t start = 0;
	while (start < text.size()) {
		size_t end = text.find('\n', start);
		if (end == std::string::npos)
			end = text.size();
		std::string line = text.substr(start, end - start);
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		lines.push_back(line);
		start = end + 1;
	}
	return lines;
}

// The tool's own complaint, if it made one.
std::string ToolError(const std::string &output)
{
	for (const std::string &line : Lines(output)) {
		const size_t at = line.find("Error");
		if (at != std::string::npos)
			return line.substr(at);
	}
	return {};
}

bool ReadCopy(const std::string &path, std::string &bytes)
{
	std::ifstream in(Utf8Path(path), std::ios::binary);
	if (!in)
		return false;
	bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
	return !in.bad() && bytes.size() <= kMaxRuntimeFileBytes;
}

// One run of the tool with the serial and `command` on a file of `folder`;
// empty on success, else why.
std::string RunTool(const RestorePlan &plan, const TempFolder &folder, const std::string &command, const char *name)
{
	LastLine log;
	std::string output;
	const ConsoleRun run = RunLighthouseConsole(plan.tool, "serial " + plan.serial + "\r\n",
	                                            command + " " + folder.PathOf(name) + "\r\n",
	                                            ConsoleClock::now() + kToolBudget, &output);
	const std::string complaint = ToolError(output);
	if (!complaint.empty())
		return plan.tool + " said: " + complaint;
	if (!run.ok || run.terminated)
		return plan.tool + " did not run to its end" + (log.text.empty() ? "" : " (" + log.text + ")");
	return {};
}

// The headset's configuration now, into `bytes`; empty on success, else why.
std::string Download(const RestorePlan &plan, std::string &bytes)
{
	TempFolder folder;
	if (!folder.Make())
		return "no temporary folder: " + folder.Note();
	folder.Delete(kDownloadName);
	std::string why = RunTool(plan, folder, "downloadconfig", kDownloadName);
	if (why.empty() && folder.Read(kDownloadName, bytes) != TempRead::Ok)
		why = "the console tool wrote no configuration of " + plan.serial;
	folder.Delete(kDownloadName);
	return why;
}

} // namespace

KeptCopies ListKeptCopies()
{
	KeptCopies list;
	KeptFolder folder;
	if (!folder.Open(false)) {
		list.note = folder.Note();
		return list;
	}
	list.folder = folder.Path();
	std::vector<std::string> names;
	if (!folder.Names(names)) {
		list.note = "cannot be read";
		return list;
	}
	for (const std::string &name : names) {
		if (name.size() < 5 || name.compare(name.size() - 5, 5, ".json") != 0)
			continue;
		list.copies.push_back({name, folder.Path() + name, SerialOfKeptName(name), IsOriginalName(name)});
	}
	return list;
}

std::vector<std::string> LineDifferences(const std::string &before, const std::string &after)
{
	const std::vector<std::string> a = Lines(before), b = Lines(after);
	// The longest common run of lines, from the end, so that the walk below
	// can go forwards.
	std::vector<std::vector<unsigned>> common(a.size() + 1, std::vector<unsigned>(b.size() + 1, 0));
	for (size_t i = a.size(); i-- > 0;)
		for (size_t j = b.size(); j-- > 0;)
			common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
	std::vector<std::string> out;
	size_t i = 0, j = 0;
	while (i < a.size() || j < b.size()) {
		if (i < a.size() && j < b.size() && a[i] == b[j]) {
			++i;
			++j;
		} else if (i < a.size() && (j == b.size() || common[i + 1][j] >= common[i][j + 1])) {
			out.push_back("- " + a[i++]);
		} else {
			out.push_back("+ " + b[j++]);
		}
	}
	return out;
}

RestorePlan PrepareRestore(const std::string &file, const std::string &channel, std::chrono::milliseconds timeout)
{
	RestorePlan plan;
	plan.copy_path = file;
	if (file.find('/') == std::string::npos && file.find('\\') == std::string::npos) {
		KeptFolder folder;
		if (folder.Open(false))
			plan.copy_path = folder.Path() + file;
	}
	if (!ReadCopy(plan.copy_path, plan.copy)) {
		plan.error = "cannot read " + plan.copy_path;
		return plan;
	}
	if (plan.copy.empty() || !nlohmann::json::accept(plan.copy)) {
		plan.error = plan.copy_path + " is not a configuration (not JSON)";
		return plan;
	}
	plan.serial = SerialOfKeptName(Utf8String(Utf8Path(plan.copy_path).filename()));
	if (!IsSafeSerial(plan.serial)) {
		plan.error = "the name of " + plan.copy_path + " does not start with a headset's serial";
		return plan;
	}
	// The driver uploads at its shutdown: it would overwrite what is restored.
	if (IsVrServerRunning()) {
		plan.error = "SteamVR's server (vrserver) is running, so nothing was changed; close SteamVR, then run "
		             "zelvan-ctl restore-config again";
		return plan;
	}
	if (SendCommand(channel, "status", timeout).outcome == Outcome::Replied) {
		plan.error = "the driver answers on " + channel + ", so nothing was changed; close SteamVR, then run "
		             "zelvan-ctl restore-config again";
		return plan;
	}
	{
		LastLine log;
		plan.tool = FindLighthouseConsole();
		if (plan.tool.empty()) {
			plan.error = "the console tool cannot be found: " + log.text;
			return plan;
		}
	}
	const std::string why = Download(plan, plan.current);
	if (!why.empty()) {
		plan.error = "cannot download the configuration of " + plan.serial + ": " + why;
		return plan;
	}
	plan.differences = LineDifferences(plan.current, plan.copy);
	return plan;
}

RestoreResult Restore(const RestorePlan &plan)
{
	RestoreResult result;
	TempFolder folder;
	if (!folder.Make()) {
		result.message = "no temporary folder: " + folder.Note();
		return result;
	}
	folder.Delete(kUploadName);
	std::string why;
	if (folder.Create(kUploadName, plan.copy) != TempWrite::Ok)
		why = "cannot write " + folder.PathOf(kUploadName);
	else if (!folder.StillInPlace())
		why = "the temporary folder was replaced";
	else
		why = RunTool(plan, folder, "uploadconfig", kUploadName);
	folder.Delete(kUploadName);
	if (!why.empty()) {
		result.message = "the upload failed: " + why;
		return result;
	}
	// The tool's word is the configuration it holds now.
	std::string now;
	why = Download(plan, now);
	if (!why.empty()) {
		result.message = "uploaded, but the configuration could not be read back: " + why;
		return result;
	}
	if (now != plan.copy) {
		result.message = "uploaded, but the headset does not hold the copy (" +
		                 std::to_string(LineDifferences(now, plan.copy).size()) + " lines differ)";
		return result;
	}
	result.ok = true;
	result.message = "restored " + plan.copy_path + " to the headset " + plan.serial;
	return result;
}

} // namespace zelvan::ctl
