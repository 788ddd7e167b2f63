// PersistIpdToHeadset: download the headset's configuration, keep it, edit its
// "default_mm", upload it, and leave no temporary file behind.
#include "ipd/ipd_persistence.h"

#include <cmath>
#include <cstdio>

#include "core/c_numbers.h"
#include "core/driver_log.h"
#include "core/text_escape.h"
#include "ipd/console_runner.h"
#include "ipd/ipd_controls.h"
#include "ipd/json_scan.h"
#include "ipd/kept_config.h"
#include "ipd/runtime_paths.h"
#include "ipd/serial_check.h"
#include "ipd/temp_folder.h"

namespace zelvan {
namespace {

bool IsNumberChar(char c)
{
	return (c >= '0' && c <= '9') || c == '.' || c == '-';
}

std::string ToolRelativePath()
{
	const std::string s(1, kPathSeparator);
	return s + "tools" + s + "lighthouse" + s + "bin" + s + (kNativePathStyle == PathStyle::Windows ? "win64" : "linux64") +
	       s + kConsoleToolName;
}

const char *const kDownloadName = "zelvan_ipd_dl.json";
const char *const kUploadName = "zelvan_ipd_ul.json";

// Download, edit and upload, between the two deletions of the temporary
// files. Past the deadline the tool is killed and no upload is begun.
void DownloadEditUpload(const std::string &tool, const std::string &serial, const TempFolder &folder,
                        const char *ipd_text, ConsoleClock::time_point deadline)
{
	const std::string serial_command = "serial " + serial + "\r\n";
	DriverLog("IPD Persist: Downloading config for %s\n", serial.c_str());
	const ConsoleRun fetched =
		RunLighthouseConsole(tool, serial_command, "downloadconfig " + folder.PathOf(kDownloadName) + "\r\n", deadline);
	if (!fetched.ok) {
		DriverLog("IPD Persist: downloadconfig failed\n");
		return;
	}
	if (!folder.Exists(kDownloadName)) {
		DriverLog("IPD Persist: downloadconfig completed but file not created\n");
		return;
	}
	std::string config;
	if (folder.Read(kDownloadName, config) != TempRead::Ok) {
		DriverLog("IPD Persist: Failed to open downloaded config\n");
		return;
	}
	// A tool that died, or was killed, while writing leaves the file cut
	// short; one that was killed only for being slow to exit leaves it whole,
	// and the wearer's IPD is still worth writing.
	if (!IsCompleteJsonObject(config)) {
		DriverLog("IPD Persist: Downloaded config is incomplete, not uploading\n");
		return;
	}
	std::string edited;
	switch (EditDefaultMm(config, ipd_text, edited)) {
	case DefaultMmEdit::KeyMissing:
		DriverLog("IPD Persist: default_mm not found in config, skipping\n");
		return;
	case DefaultMmEdit::NoColon:
		DriverLog("IPD Persist: malformed config -- no colon after default_mm\n");
		return;
	case DefaultMmEdit::NoNumber:
		DriverLog("IPD Persist: malformed config -- no numeric value for default_mm\n");
		return;
	case DefaultMmEdit::Edited:
		break;
	}
	if (!TimeLeftToUpload(fetched, ConsoleClock::now(), deadline)) {
		DriverLog("IPD Persist: Out of time, not uploading\n");
		return;
	}
	// Nothing goes up that could not be taken back: the download is kept first.
	if (!KeepBeforeUpload(serial, config))
		return;
	// Binary, like the read: text mode would rewrite every line end of the
	// headset's configuration on Windows.
	switch (folder.Create(kUploadName, edited)) {
	case TempWrite::NotCreated:
		DriverLog("IPD Persist: Failed to create upload config file\n");
		return;
	case TempWrite::NotWritten:
		DriverLog("IPD Persist: Failed to write upload config file\n");
		return;
	case TempWrite::Ok:
		break;
	}
	// The tool opens the file by its path: that path must still lead to it.
	if (!folder.StillInPlace()) {
		DriverLog("IPD Persist: Temp directory was replaced, not uploading\n");
		return;
	}
	DriverLog("IPD Persist: Uploading modified config (%smm)\n", ipd_text);
	if (RunLighthouseConsole(tool, serial_command, "uploadconfig " + folder.PathOf(kUploadName) + "\r\n", deadline).ok)
		DriverLog("IPD Persist: Successfully wrote %smm to headset config\n", ipd_text);
	else
		DriverLog("IPD Persist: uploadconfig failed\n");
}

// The tool runs with the temporary files, which are deleted before (no
// earlier run's file may pass for new output) and after.
void PersistWithTool(const std::string &tool, const std::string &serial, const char *ipd_text,
                     ConsoleClock::time_point deadline)
{
	TempFolder folder;
	if (!folder.Make()) {
		DriverLog("IPD Persist: Failed to get temp directory %s\n", folder.Note().c_str());
		return;
	}
	if (!folder.Note().empty())
		DriverLog("IPD Persist: Using temp directory %s\n", folder.Note().c_str());
	folder.Delete(kDownloadName);
	folder.Delete(kUploadName);
	DownloadEditUpload(tool, serial, folder, ipd_text, deadline);
	folder.Delete(kDownloadName);
	folder.Delete(kUploadName);
}

} // namespace

bool TimeLeftToUpload(const ConsoleRun &download, ConsoleClock::time_point now, ConsoleClock::time_point deadline)
{
	return !download.out_of_time && now < deadline;
}

DefaultMmEdit EditDefaultMm(const std::string &text, const std::string &new_value, std::string &edited)
{
	const size_t key = text.find("\"default_mm\"");
	if (text.size() < 12 || key == std::string::npos)
		return DefaultMmEdit::KeyMissing;
	const size_t colon = text.find(':', key);
	if (colon == std::string::npos)
		return DefaultMmEdit::NoColon;
	size_t start = colon + 1;
	while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
		++start;
	size_t end = start;
	while (end < text.size() && IsNumberChar(text[end]))
		++end;
	if (end == start)
		return DefaultMmEdit::NoNumber;
	// 6.35e1 or 6.35E+1: the scan would replace only the mantissa.
	if (end < text.size() && (text[end] == 'e' || text[end] == 'E' || text[end] == '+'))
		return DefaultMmEdit::NoNumber;
	// The run must be one finite number: "-" of "-inf", "1.2.3" or 400 digits
	// is no value to replace.
	size_t used = 0;
	if (!ParseFloat(text.data() + start, text.data() + end, &used) || used != end - start)
		return DefaultMmEdit::NoNumber;
	edited = text.substr(0, start) + new_value + text.substr(end);
	return DefaultMmEdit::Edited;
}

std::string FindLighthouseConsole()
{
	const RegistryLocation registry = FindPathRegistry();
	if (!registry.found) {
		DriverLog("IPD Persist: Failed to get %s\n", registry.missing_var.c_str());
		return {};
	}
	std::string text;
	if (!ReadTextFile(registry.path, text)) {
		DriverLog("IPD Persist: Failed to open %s\n", EscapeControlBytes(registry.path).c_str());
		return {};
	}
	const std::string runtime = FindJsonStringValue(text, "runtime");
	if (runtime.empty()) {
		DriverLog("IPD Persist: Could not extract runtime path from openvrpaths.vrpath\n");
		return {};
	}
	const std::string tool = runtime + ToolRelativePath();
	if (!FileExists(tool)) {
		DriverLog("IPD Persist: %s not found at %s\n", kConsoleToolName, EscapeControlBytes(tool).c_str());
		return {};
	}
	DriverLog("IPD Persist: Found lighthouse_console at %s\n", EscapeControlBytes(tool).c_str());
	return tool;
}

void PersistIpdToHeadset(const IpdControls &p, std::chrono::milliseconds budget)
{
	const auto start = ConsoleClock::now();
	if (p.current_ipd_m <= 0.0f || p.initial_ipd_m <= 0.0f || std::fabs(p.current_ipd_m - p.initial_ipd_m) < 1e-4f) {
		DriverLog("IPD Persist: No change during session (startup=%s current=%s), skipping\n",
		          FormatFixed(p.initial_ipd_m, 4).text, FormatFixed(p.current_ipd_m, 4).text);
		return;
	}
	if (p.config_serial.empty()) {
		DriverLog("IPD Persist: WARNING -- tracking serial not available, cannot persist\n");
		return;
	}
	// The serial is typed into the tool: no line end may be smuggled in.
	if (!IsSafeSerial(p.config_serial)) {
		DriverLog("IPD: Refusing unsafe serial \"%s\"\n", EscapeForLog(p.config_serial).c_str());
		return;
	}
	const std::string tool = FindLighthouseConsole();
	if (tool.empty()) {
		DriverLog("IPD Persist: %s not found, cannot persist\n", kConsoleToolName);
		return;
	}
	const FixedText ipd_mm = FormatFixed(p.current_ipd_m * 1000.0f, 1);
	PersistWithTool(tool, p.config_serial, ipd_mm.text, start + budget);
	const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(ConsoleClock::now() - start);
	DriverLog("IPD Persist: Finished in %lu ms\n", static_cast<unsigned long>(elapsed.count()));
}

} // namespace zelvan
