// doctor, doctor --fix, unblock, paths, register and unregister: the
// doctor's findings and mends as lines for a person or for a script.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/doctor/path_registry.h"

namespace zelvan::ctl {
namespace {

struct MendWords {
	const char *done;
	const char *left;
	const char *note;
};

// Prints each mend's line as it is made.
MendSink PrintMends(const MendWords &words, std::FILE *out)
{
	return [words, out](const MendLine &line) {
		const char *prefix = line.kind == MendLine::Kind::Done     ? words.done
		                     : line.kind == MendLine::Kind::Failed ? "fix FAILED: "
		                     : line.kind == MendLine::Kind::Left   ? words.left
		                                                           : words.note;
		std::fprintf(out, "%s%s\n", prefix, line.text.c_str());
		std::fflush(out);
	};
}

} // namespace

int RunDoctor(const std::string &channel, std::chrono::milliseconds timeout, bool json, bool fix, bool dry_run)
{
	bool mend_failed = false;
	if (fix) {
		// Before the checks, which then see what the mends changed; with
		// --json, apart from the one JSON array on stdout.
		const MendReport mends =
			Mend(LookUpRuntime(), dry_run,
			     PrintMends({dry_run ? "fix (dry run): would " : "fix: ", "fix: ", "fix: "}, json ? stderr : stdout));
		if (mends.refused)
			return kExitError;
		mend_failed = mends.failed;
	}
	const std::vector<Finding> findings = Examine(channel, timeout);
	if (json)
		std::cout << FindingsJson(findings).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
	else
		std::fputs(FindingsText(findings).c_str(), stdout);
	const bool failed =
		std::any_of(findings.begin(), findings.end(), [](const Finding &f) { return f.verdict == Verdict::Fail; });
	// Last, so that neither the checks' summary nor a FAIL of theirs that
	// has nothing to do with it (the driver not running) hides it.
	if (mend_failed)
		std::fputs("fix FAILED: a mend above failed (its \"fix FAILED\" line says why); the checks show what is left\n",
		           json ? stderr : stdout);
	return failed || mend_failed ? kExitError : kExitOk;
}

int RunUnblock()
{
	const MendReport report = Unblock(PrintMends({"cleared SteamVR's safe-mode block on the driver: ", "fix: ", ""}, stdout));
	return report.failed ? kExitError : kExitOk;
}

int RunPaths(const std::vector<std::string> &args)
{
	const bool known = !args.empty() && (args[0] == "runtime" || args[0] == "external_drivers" ||
	                                     args[0] == "config" || args[0] == "log");
	if (!known || args.size() > 2) {
		std::fprintf(stderr, "zelvan-ctl: paths needs runtime, external_drivers, config or log, and optionally "
		                     "the registry file (see --help)\n");
		return kExitUsage;
	}
	const RegistryPaths read = ReadRegistryPaths(args[0], args.size() == 2 ? std::optional(args[1]) : std::nullopt);
	if (!read.error.empty()) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", read.error.c_str());
		return kExitError;
	}
	for (const std::string &path : read.paths)
		std::printf("%s\n", path.c_str());
	return kExitOk;
}

int RunRegister(const std::vector<std::string> &args, bool add)
{
	if (args.size() != 1 || args[0].empty()) {
		std::fprintf(stderr, "zelvan-ctl: %s needs the driver folder (see --help)\n", add ? "register" : "unregister");
		return kExitUsage;
	}
	const RegistryChange change = RegisterFolder(args[0], add, [](const std::string &line) {
		std::printf("%s\n", line.c_str());
		std::fflush(stdout);
	});
	if (!change.error.empty()) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", change.error.c_str());
		return kExitError;
	}
	return kExitOk;
}

} // namespace zelvan::ctl
