// restore-config: the kept copies of the headset's configuration, and one
// of them put back on the headset after showing what it changes.
#include <cstdio>
#include <iostream>
#include <string>

#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/console_text.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/kept_copies.h"

namespace zelvan::ctl {
namespace {

int List()
{
	const KeptCopies kept = ListKeptCopies();
	if (kept.folder.empty()) {
		std::printf("no kept copies (%s)\n", EscapeForTerminal(kept.note).c_str());
		return kExitOk;
	}
	if (kept.copies.empty())
		std::printf("no kept copies in %s\n", EscapeForTerminal(kept.folder).c_str());
	for (const KeptCopy &copy : kept.copies)
		std::printf("%s  %s\n", EscapeForTerminal(copy.path).c_str(),
		            copy.original ? "(as the headset first came)" : "(the last download before an upload)");
	return kExitOk;
}

bool Confirmed(const RestorePlan &plan)
{
	std::printf("Upload %s to the headset %s? [y/N] ", EscapeForTerminal(plan.copy_path).c_str(), plan.serial.c_str());
	std::fflush(stdout);
	std::string answer;
	if (!std::getline(std::cin, answer))
		return false;
	return answer == "y" || answer == "Y" || answer == "yes";
}

} // namespace

int RunRestoreConfig(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout)
{
	std::string file;
	bool yes = false, list = args.empty();
	for (const std::string &arg : args) {
		if (arg == "--yes")
			yes = true;
		else if (arg == "--list")
			list = true;
		else if (file.empty() && arg.rfind("--", 0) != 0)
			file = arg;
		else
			file = "--";
	}
	if (list)
		return args.size() <= 1 ? List() : (std::fprintf(stderr, "zelvan-ctl: restore-config --list takes nothing else\n"), kExitUsage);
	if (file.empty() || file == "--") {
		std::fprintf(stderr, "zelvan-ctl: restore-config needs one FILE, and takes only --yes (see --help)\n");
		return kExitUsage;
	}
	if (!yes && !InputIsTerminal()) {
		std::fprintf(stderr, "zelvan-ctl: restore-config asks before it uploads; give --yes when no one can answer\n");
		return kExitUsage;
	}
	const RestorePlan plan = PrepareRestore(file, channel, timeout);
	if (!plan.error.empty()) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", EscapeForTerminal(plan.error).c_str());
		return kExitError;
	}
	if (plan.differences.empty()) {
		std::printf("the headset %s already holds %s; nothing to upload\n", plan.serial.c_str(),
		            EscapeForTerminal(plan.copy_path).c_str());
		return kExitOk;
	}
	std::printf("What the upload changes in the headset's configuration (- now, + the copy):\n");
	for (const std::string &line : plan.differences)
		std::printf("%s\n", EscapeForTerminal(line).c_str());
	if (!yes && !Confirmed(plan)) {
		std::printf("nothing uploaded\n");
		return kExitError;
	}
	const RestoreResult result = Restore(plan);
	if (!result.ok) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", EscapeForTerminal(result.message).c_str());
		return kExitError;
	}
	std::printf("%s\n", EscapeForTerminal(result.message).c_str());
	return kExitOk;
}

} // namespace zelvan::ctl
