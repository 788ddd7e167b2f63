// zelvan-ctl report [FILE]: the bug report into a new file, never over one.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/doctor/bug_report.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/channel/new_file.h"

namespace zelvan::ctl {
namespace {

namespace fs = std::filesystem;

int Refuse(const std::string &message)
{
	std::fprintf(stderr, "zelvan-ctl: %s\n", message.c_str());
	return kExitError;
}

} // namespace

int RunReport(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout)
{
	if (args.size() > 1 || (args.size() == 1 && (args[0].empty() || args[0].rfind("--", 0) == 0))) {
		std::fprintf(stderr, "zelvan-ctl: report takes only the file to write (see --help)\n");
		return kExitUsage;
	}
	fs::path path = args.empty() ? fs::path() : Utf8Path(args[0]);
	if (!args.empty() && path.empty())
		return Refuse("not a usable file name: " + EscapeForTerminal(args[0]));
	// The file is made and given back first: an existing FILE, or a folder
	// that takes none, is refused before the report's wait on the driver, and
	// a report stopped there (Ctrl-C) leaves no empty file behind. Once the
	// text is ready the name is taken again, in the same one step.
	std::FILE *file = args.empty() ? CreateReportFile({}, path) : CreateNewFile(path);
	std::string shown = EscapeForTerminal(Utf8String(path));
	if (file == nullptr)
		return Refuse(errno == EEXIST ? shown + " exists already; not writing over it (name another file)"
		                              : "cannot create " + shown + ": " + std::strerror(errno));
	std::fclose(file);
	std::error_code ignored;
	fs::remove(path, ignored);
	const std::string text = BugReport(channel, timeout);
	file = args.empty() ? CreateReportFile({}, path) : CreateNewFile(path);
	shown = EscapeForTerminal(Utf8String(path));
	if (file == nullptr)
		return Refuse(errno == EEXIST ? shown + " appeared while the report was made; not writing over it (run again)"
		                              : "cannot create " + shown + ": " + std::strerror(errno));
	const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
	const int error = errno;
	if (std::fclose(file) != 0 || !written) {
		fs::remove(path, ignored); // ours, made above: half a report helps nobody
		return Refuse("cannot write " + shown + ": " + std::strerror(written ? errno : error));
	}
	const fs::path full = fs::absolute(path, ignored);
	std::printf("wrote %s\n", EscapeForTerminal(Utf8String(full.empty() ? path : full)).c_str());
	return kExitOk;
}

} // namespace zelvan::ctl
