// `zelvan-ctl tune FILE [--svg OUT] [--apply]`: reads the recording, prints
// the recommendation, plots it and hands it to the running driver.
#include <cstdio>
#include <filesystem>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/utf8_path.h"
#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/tuning/recording.h"
#include "tools/zelvan_ctl/tuning/tune.h"
#include "tools/zelvan_ctl/tuning/tune_apply.h"
#include "tools/zelvan_ctl/tuning/tune_svg.h"

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

// The driver's confirmations on stdout, then what went wrong and, when a
// later set failed, what is in force now.
int Apply(const Recording &recording, const TuneResult &result, const SendToDriver &send,
          const ExitForExchange &exit_for)
{
	const ApplyOutcome outcome = ApplySettings(recording.header, result.recommended.settings, result.keep, send,
	                                           [](const std::string &line) {
		                                           std::printf("%s\n", line.c_str());
		                                           std::fflush(stdout);
	                                           });
	if (outcome.failure) {
		const int status = ReportFailure(*outcome.failure, exit_for);
		if (!outcome.applied.empty())
			std::fprintf(stderr, "zelvan-ctl: only part applied: the driver runs with%s now and the rest as it was\n",
			             outcome.applied.c_str());
		return status;
	}
	if (result.keep && !outcome.differs.empty())
		std::printf("nothing sent: the driver runs with%s now, not with the recording's settings; record again to "
		            "tune those\n",
		            outcome.differs.c_str());
	else if (result.keep)
		std::printf("nothing sent: the driver runs with the recording's settings, which stay\n");
	else if (outcome.already)
		std::printf("the driver already runs with these settings\n");
	return kExitOk;
}

} // namespace

int RunTune(const std::vector<std::string> &args, const SendToDriver &send, const ExitForExchange &exit_for)
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
	std::string error;
	const auto recording = LoadRecordingFile(options.file, error);
	if (!recording) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", error.c_str());
		return kExitError;
	}
	const TuneResult result = Tune(*recording);
	std::fputs(FormatTuneReport(*recording, result).c_str(), stdout);
	std::fflush(stdout);
	if (!options.svg.empty()) {
		const std::string base = Utf8String(Utf8Path(options.file).filename());
		const std::string name = base.empty() ? options.file : base;
		if (!WriteFileReplacing(options.svg, TuneSvg(*recording, result, "zelvan-ctl tune " + name), error)) {
			std::fprintf(stderr, "zelvan-ctl: %s: cannot write the plot: %s\n", EscapeControlBytes(options.svg).c_str(),
			             error.c_str());
			return kExitError;
		}
		std::printf("plot: %s\n", EscapeControlBytes(options.svg).c_str());
	}
	if (result.cannot_tell) {
		std::fprintf(stderr, "zelvan-ctl: %s%s\n", kCannotTell, options.apply ? "; nothing sent to the driver" : "");
		return kExitError;
	}
	if (options.apply)
		return Apply(*recording, result, send, exit_for);
	return kExitOk;
}

} // namespace zelvan::ctl
