// zelvan-ctl report: the sections of a bug report, read from the same places
// the doctor reads, and the pass that takes the user's home and name out.
#include "tools/zelvan_ctl/doctor/bug_report.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "ipd/runtime_paths.h"
#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/new_file.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/doctor/json_edit.h"

namespace zelvan::ctl {
namespace {

namespace fs = std::filesystem;

bool IsWordByte(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

char Folded(char c, bool fold_case)
{
	return fold_case && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The small letter of a two-byte capital whose small letter has two bytes
// too (Latin-1, Latin Extended-A, Greek, Cyrillic), as Windows folds names.
char32_t SmallLetter(char32_t c)
{
	if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
		return c + 0x20;
	if (c == 0x178)
		return 0xFF;
	if (c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
		const bool odd_capitals = (c >= 0x139 && c <= 0x148) || c >= 0x179;
		return (c % 2 == 1) == odd_capitals ? c + 1 : c;
	}
	if ((c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
		return c + 0x20;
	if (c >= 0x400 && c <= 0x40F)
		return c + 0x50;
	return c;
}

// `text` with its capitals small, byte for byte as long as it was.
std::string FoldedText(const std::string &text, bool fold_case)
{
	if (!fold_case)
		return text;
	std::string out = text;
	for (size_t i = 0; i < out.size(); ++i) {
		const auto lead = static_cast<unsigned char>(out[i]);
		out[i] = Folded(out[i], true);
		if (lead < 0xC2 || lead > 0xDF || i + 1 == out.size())
			continue;
		const auto next = static_cast<unsigned char>(out[i + 1]);
		if ((next & 0xC0) != 0x80)
			continue;
		const char32_t small = SmallLetter(char32_t{(lead & 0x1Fu) << 6 | (next & 0x3Fu)});
		out[i] = static_cast<char>(0xC0 | small >> 6);
		out[++i] = static_cast<char>(0x80 | (small & 0x3F));
	}
	return out;
}

// Every `what` in `text` that does not run on into a word on its right (and,
// with `whole_word`, on its left) becomes `by`: /home/al is not in /home/alice.
std::string ReplaceAll(const std::string &text, const std::string &what, const std::string &by, bool fold_case,
                       bool whole_word)
{
	const std::string folded = FoldedText(text, fold_case), folded_what = FoldedText(what, fold_case);
	std::string out;
	out.reserve(text.size());
	for (size_t i = 0; i < text.size();) {
		const size_t end = i + what.size();
		if (folded.compare(i, what.size(), folded_what) == 0 && end <= text.size() &&
		    (!whole_word || i == 0 || !IsWordByte(text[i - 1])) &&
		    (end == text.size() || !IsWordByte(what.back()) || !IsWordByte(text[end]))) {
			out += by;
			i = end;
			continue;
		}
		out += text[i++];
	}
	return out;
}

std::string Replaced(const std::string &text, char from, const std::string &to)
{
	std::string out;
	for (const char c : text)
		out += c == from ? to : std::string(1, c);
	return out;
}

} // namespace

std::string RemoveHomeAndUser(const std::string &text, const std::string &home, const std::string &user, bool fold_case)
{
	std::string out = text;
	std::string bare = home;
	while (bare.size() > 1 && (bare.back() == '/' || bare.back() == '\\'))
		bare.pop_back();
	// Bytes outside UTF-8 (a Latin-1 name) reach the sections escaped, as \xE9.
	const auto spellings = [](const std::string &name) {
		std::vector<std::string> all{name};
		if (const std::string escaped = EscapeForTerminal(name); escaped != name)
			all.push_back(escaped);
		return all;
	};
	// A drive's root as the home ("C:\\") would put every path of that drive under ~.
	const bool drive_root = bare.size() == 2 && bare[1] == ':';
	if (bare.size() >= 2 && !drive_root) {
		for (const std::string &spelling : spellings(bare)) {
			// The longest spelling first: the doubled one holds no other.
			if (spelling.find('\\') != std::string::npos)
				out = ReplaceAll(out, Replaced(spelling, '\\', "\\\\"), "~", fold_case, false);
			out = ReplaceAll(out, spelling, "~", fold_case, false);
			if (spelling.find('\\') != std::string::npos)
				out = ReplaceAll(out, Replaced(spelling, '\\', "/"), "~", fold_case, false);
		}
	}
	if (user.size() >= 2) {
		for (const std::string &spelling : spellings(user)) {
			if (spelling.find('\\') != std::string::npos)
				out = ReplaceAll(out, Replaced(spelling, '\\', "\\\\"), "<user>", fold_case, true);
			out = ReplaceAll(out, spelling, "<user>", fold_case, true);
		}
	}
	return out;
}

namespace {

// A chunk of the log read at a time, and the longest line kept: vrserver.txt
// lines are a few hundred bytes, so a longer one is damage, not a message.
constexpr size_t kLogChunk = size_t{64} << 10;
constexpr size_t kMaxLogLine = size_t{64} << 10;

bool NamesDriver(const std::string &line)
{
	static const std::string kName = "zelvan";
	const auto at = std::search(line.begin(), line.end(), kName.begin(), kName.end(),
	                            [](char a, char b) { return Folded(a, true) == b; });
	return at != line.end();
}

// Takes the lines of a log, newest first.
class NewestFirst {
public:
	NewestFirst(LogTail &tail, size_t max_lines) : tail_(tail), max_lines_(max_lines) {}

	bool Full() const { return tail_.lines.size() >= max_lines_; }

	void Take(std::string line, bool too_long)
	{
		if (too_long || line.size() > kMaxLogLine) {
			++tail_.long_lines;
			return;
		}
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		if (line.find('\0') != std::string::npos)
			++tail_.nul_lines;
		else if (NamesDriver(line))
			tail_.lines.push_back(EscapeForTerminal(line));
	}

private:
	LogTail &tail_;
	size_t max_lines_;
};

} // namespace

LogTail ReadDriverLogLines(const std::string &path, size_t max_lines, uint64_t max_scan)
{
	LogTail tail;
	std::error_code error;
	const fs::path file = Utf8Path(path);
	const fs::file_status status = fs::status(file, error);
	if (!fs::exists(status)) {
		tail.error = "no " + EscapeForTerminal(path);
		return tail;
	}
	// A FIFO in its place would hold the report until someone writes to it.
	if (!fs::is_regular_file(status)) {
		tail.error = EscapeForTerminal(path) + " is not a file";
		return tail;
	}
	tail.size = fs::file_size(file, error);
	std::ifstream in(file, std::ios::binary);
	if (error || !in) {
		tail.error = EscapeForTerminal(path) + " cannot be opened";
		return tail;
	}
	NewestFirst take(tail, max_lines);
	uint64_t pos = tail.size;
	std::string carry;    // the start of the line that ends in the chunk read before
	bool dropped = false; // that line was too long already, so it is not kept
	std::string buffer;
	while (pos > 0 && tail.scanned < max_scan && !take.Full()) {
		const auto n = static_cast<size_t>(std::min<uint64_t>({kLogChunk, pos, max_scan - tail.scanned}));
		pos -= n;
		buffer.assign(n, '\0');
		in.seekg(static_cast<std::streamoff>(pos));
		in.read(buffer.data(), static_cast<std::streamsize>(n));
		if (static_cast<size_t>(in.gcount()) != n)
			break; // the file shrank under us: what was read stands
		tail.scanned += n;
		buffer += carry;
		size_t end = buffer.size();
		bool first = true; // the last piece is the start of the carried line
		while (!take.Full()) {
			const size_t newline = end == 0 ? std::string::npos : buffer.rfind('\n', end - 1);
			if (newline == std::string::npos) {
				// The line may begin before this chunk; at the file's start it is whole.
				if (pos == 0) {
					take.Take(buffer.substr(0, end), first && dropped);
				} else {
					dropped = (first && dropped) || end > kMaxLogLine;
					carry = dropped ? std::string() : buffer.substr(0, end);
				}
				break;
			}
			take.Take(buffer.substr(newline + 1, end - newline - 1), first && dropped);
			first = false;
			end = newline;
		}
	}
	std::reverse(tail.lines.begin(), tail.lines.end());
	return tail;
}

namespace {

std::string Esc(const std::string &text)
{
	return EscapeForTerminal(text);
}

std::string Lines(const std::vector<std::string> &items, const std::string &prefix)
{
	std::string out;
	for (const std::string &item : items)
		out += prefix + Esc(item) + "\n";
	return out;
}

// The file's bytes, line by line, with what would steer a terminal escaped
// but its indentation kept.
std::string AsWritten(const std::string &bytes)
{
	std::string out;
	size_t begin = 0;
	while (begin <= bytes.size()) {
		size_t end = bytes.find('\n', begin);
		if (end == std::string::npos)
			end = bytes.size();
		std::string line = bytes.substr(begin, end - begin);
		if (!line.empty() && line.back() == '\r')
			line.pop_back();
		for (size_t from = 0;;) {
			const size_t tab = line.find('\t', from);
			out += Esc(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
			if (tab == std::string::npos)
				break;
			out += '\t';
			from = tab + 1;
		}
		out += '\n';
		begin = end + 1;
	}
	return out;
}

std::string Count(size_t n, const std::string &noun)
{
	return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string FirstOf(const std::vector<std::string> &list)
{
	return list.empty() ? std::string() : list.front();
}

const char *InstallerOf(const DriverFolders &folders, const std::string &dir)
{
	for (size_t i = 0; i < folders.installs.size() && i < folders.installers.size(); ++i)
		if (folders.installs[i] == dir)
			return folders.installers[i].c_str();
	return nullptr;
}

std::string VersionsSection(const DriverFolders &folders)
{
	std::string out = "zelvan-ctl " ZELVAN_VERSION "\n";
	if (folders.copies.empty())
		out += "driver folder: none, neither registered with SteamVR nor in its drivers folder\n";
	// No installer writes a version into the folder, so there is only its path
	// and who made it to tell copies apart.
	for (const std::string &dir : folders.copies) {
		const char *by = InstallerOf(folders, dir);
		out += "driver folder: " + Esc(dir) + (by != nullptr ? std::string(" (installed by ") + by + ")" : "") +
		       "; the folder records no version\n";
	}
	return out + "system: " + SystemVersion() + "\n";
}

std::string StatusSection(const std::string &channel, std::chrono::milliseconds timeout)
{
	const Exchange exchange = SendCommand(channel, "status", timeout);
	if (exchange.outcome == Outcome::Replied)
		return Esc(exchange.reply) + "\n";
	return "no status: " + Esc(WhyNoReply(exchange, channel)) + "\n";
}

std::string SettingsSection(const RuntimeView &runtime)
{
	const SettingsFile settings = ReadSettings(runtime.config_dir);
	if (settings.path.empty())
		return "not read: the path registry names no config folder\n";
	std::string out = "file: " + Esc(settings.path) + "\n";
	if (!settings.exists)
		return out + "no such file yet (SteamVR writes it when it first runs)\n";
	if (!settings.error.empty())
		return out + "not read: the file " + Esc(settings.error) + "\n";
	// With the name twice, the section shown alone would hide the other.
	size_t root = 0;
	std::vector<JsonMember> members;
	OutlineJsonObject(settings.bytes, root, members);
	const auto sections = std::count_if(members.begin(), members.end(), [&](const JsonMember &member) {
		return member.object == root && member.key == kDriverSection;
	});
	if (sections > 1)
		out += std::to_string(sections) + " \"" + kDriverSection + "\" members in it; SteamVR takes the last:\n";
	if (settings.section_open == std::string::npos)
		return out + "no \"" + kDriverSection + "\" object in it: the driver runs with its defaults\n";
	return out + "\"" + kDriverSection + "\" : " +
	       AsWritten(settings.bytes.substr(settings.section_open, settings.section_end - settings.section_open));
}

std::string RegistrySection(const RuntimeView &runtime, const nlohmann::json &registry, const DriverFolders &folders)
{
	if (runtime.registry_path.empty())
		return "not found: " + FindPathRegistry().missing_var + " is not set\n";
	std::string out = "file: " + Esc(runtime.registry_path) + "\n";
	if (!runtime.registry_read)
		return out + (FileExists(runtime.registry_path) ? "not read: the file is not a JSON object\n"
		                                                : "no such file (SteamVR has not run as this user)\n");
	out += Lines(RegistryList(registry, "runtime"), "runtime: ");
	out += Lines(RegistryList(registry, "config"), "config: ");
	out += Lines(RegistryList(registry, "log"), "log: ");
	// Other drivers' folders are the user's business: counted, not named.
	size_t others = 0;
	for (const std::string &dir : runtime.external_drivers) {
		const bool gone = std::any_of(folders.gone_ours.begin(), folders.gone_ours.end(),
		                              [&](const std::string &ours) { return ours == dir; });
		if (IsOurDriverFolder(dir) || gone)
			out += "external_drivers: " + Esc(dir) + (gone ? " (gone)" : "") + "\n";
		else
			++others;
	}
	return out + "external_drivers: " + Count(others, "other driver folder") + " (not named)\n";
}

constexpr size_t kLogLines = 200;
constexpr uint64_t kLogScan = uint64_t{16} << 20;

std::string LogSection(const nlohmann::json &registry)
{
	const std::string dir = FirstOf(RegistryList(registry, "log"));
	if (dir.empty())
		return "not read: the path registry names no log folder\n";
	const std::string path = JoinUtf8(dir, "vrserver.txt");
	const LogTail tail = ReadDriverLogLines(path, kLogLines, kLogScan);
	if (!tail.error.empty())
		return "not read: " + tail.error + "\n";
	std::string out = "file: " + Esc(path) + ", " + std::to_string(tail.size) + " bytes";
	if (tail.scanned < tail.size)
		out += "; read from its end, its last " + std::to_string(tail.scanned) + " bytes";
	out += "\nthe last " + std::to_string(tail.lines.size()) + " lines (at most " + std::to_string(kLogLines) +
	       ") that come from the driver or name it, oldest first:\n";
	for (const std::string &line : tail.lines)
		out += line + "\n";
	if (tail.nul_lines > 0)
		out += Count(tail.nul_lines, "line") + " with NUL bytes left out\n";
	if (tail.long_lines > 0)
		out += Count(tail.long_lines, "line") + " longer than " + std::to_string(kMaxLogLine) + " bytes left out\n";
	return out;
}

const char *const kPreamble =
	"This file holds what the maintainers of the Zelvan Proximity driver ask for\n"
	"in a bug report: the versions of zelvan-ctl, of the installed driver folder\n"
	"and of the system; what `zelvan-ctl doctor --json` finds; the running\n"
	"driver's status; the driver's section of SteamVR's settings; the path\n"
	"registry's entries for the driver; and the driver's last lines in SteamVR's\n"
	"log, vrserver.txt. Your home folder is written as ~ and your user name was\n"
	"replaced by <user>, so that the file can be attached to a public bug report.\n";

} // namespace

std::string BugReport(const std::string &channel, std::chrono::milliseconds timeout)
{
	const RuntimeView runtime = LookUpRuntime();
	const nlohmann::json registry = runtime.registry_read ? ReadJsonFile(runtime.registry_path) : nlohmann::json();
	const DriverFolders folders = SortDriverFolders(runtime);
	const struct {
		const char *heading;
		std::string body;
	} sections[] = {
		{"versions", VersionsSection(folders)},
		{"doctor --json", FindingsJson(Examine(channel, timeout)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n"},
		{"driver status", StatusSection(channel, timeout)},
		{"SteamVR settings", SettingsSection(runtime)},
		{"path registry", RegistrySection(runtime, registry, folders)},
		{"vrserver.txt", LogSection(registry)},
	};
	// The fixed words stay out of the pass: a user named "doctor" must not
	// turn a heading into "<user>".
	const UserIdentity user = CurrentUser();
	std::string out = "zelvan-ctl report, " + LocalDate() + "\n\n" + kPreamble;
	for (const auto &section : sections)
		out += std::string("\n== ") + section.heading + " ==\n" +
		       RemoveHomeAndUser(section.body, user.home, user.name, user.fold_case);
	return out;
}

// Enough reports for one day in one folder; past that something is wrong.
constexpr int kMaxSameDay = 1000;

std::FILE *CreateReportFile(const fs::path &folder, fs::path &path)
{
	const std::string stem = "zelvan-report-" + LocalDate();
	for (int n = 1; n <= kMaxSameDay; ++n) {
		path = folder / Utf8Path(stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".txt");
		std::FILE *file = CreateNewFile(path);
		if (file != nullptr || errno != EEXIST)
			return file;
	}
	errno = EEXIST;
	return nullptr;
}

} // namespace zelvan::ctl
