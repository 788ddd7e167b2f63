// `zelvan-ctl record [--seconds S] [--guided] [--count-down S] FILE`: the
// prompts and progress of a recording, and what to run next.
#include <charconv>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "core/text_escape.h"
#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/tuning/record_session.h"

namespace zelvan::ctl {
namespace {

bool ParseRecordArgs(const std::vector<std::string> &args, RecordPlan &plan)
{
	for (size_t i = 0; i < args.size(); ++i) {
		const std::string &a = args[i];
		if (a == "--guided") {
			plan.guided = true;
		} else if (a == "--seconds" && i + 1 < args.size()) {
			double s = 0;
			const std::string &v = args[++i];
			const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), s);
			if (error != std::errc() || end != v.data() + v.size() || !(s > 0 && s <= 86400)) {
				std::fprintf(stderr, "zelvan-ctl: record --seconds wants a number of seconds (up to 86400), not '%s'\n",
				             EscapeControlBytes(v).c_str());
				return false;
			}
			plan.seconds = s;
		} else if (a == "--count-down" && i + 1 < args.size()) {
			const std::string &v = args[++i];
			const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), plan.count_down);
			if (error != std::errc() || end != v.data() + v.size() || v.empty() || plan.count_down < 0 ||
			    plan.count_down > 10) {
				std::fprintf(stderr, "zelvan-ctl: record --count-down wants whole seconds from 0 to 10\n");
				return false;
			}
		} else if (a.rfind("--", 0) == 0 || !plan.file.empty()) {
			std::fprintf(stderr, "zelvan-ctl: record takes [--seconds S] [--guided] [--count-down S] FILE, not '%s' "
			                     "(see --help)\n",
			             EscapeControlBytes(a).c_str());
			return false;
		} else {
			plan.file = a;
		}
	}
	if (plan.file.empty()) {
		std::fprintf(stderr, "zelvan-ctl: record needs the file to write (see --help)\n");
		return false;
	}
	return true;
}

// The file name as the next command line takes it: quoted unless it is
// plain, so that one with spaces or a shell's special characters pastes.
std::string AsArgument(const std::string &shown)
{
#ifdef _WIN32
	const char *const kPlain = "._-/\\:+,=@%";
#else
	const char *const kPlain = "._-/:+,=@%";
#endif
	bool plain = !shown.empty();
	for (const char c : shown)
		plain = plain && c != '\0' &&
		        (std::isalnum(static_cast<unsigned char>(c)) || std::strchr(kPlain, c) != nullptr);
	if (plain)
		return shown;
#ifdef _WIN32
	return "\"" + shown + "\"";
#else
	std::string quoted = "'";
	for (const char c : shown)
		quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
	return quoted + "'";
#endif
}

// Prompts and progress go out at once: the person holding the headset, or
// a script playing one, acts on them.
template <typename... Parts>
void Say(const Parts &...parts)
{
	(std::cout << ... << parts) << std::flush;
}

// Shows each event as it comes; a failure is told at once, in its place
// among the prompts, and its exit status kept.
void Show(const RecordEvent &e, const ExitForExchange &exit_for, int &status)
{
	using Kind = RecordEvent::Kind;
	switch (e.kind) {
	case Kind::Worn:
		Say("Recording for ", e.seconds, " s: wear the headset as you always do.\n");
		break;
	case Kind::Second:
		Say("\r  ", e.gone, " of ", e.seconds, " s, ", e.readings, " readings ");
		break;
	case Kind::Ended:
		Say("\n");
		break;
	case Kind::Guided:
		Say("Guided recording: ", kGuidedRounds, " rounds of taking the headset off and putting it on, ", e.seconds,
		    " s each.\n");
		break;
	case Kind::Round:
		Say("Round ", e.round, " of ", kGuidedRounds,
		    e.on ? ": put it on.\n" : ": take the headset off and hold it in your hand.\n", " ");
		break;
	case Kind::CountDown:
		Say(" ", e.left);
		break;
	case Kind::Now:
		Say(" now: ", e.on ? "wear it" : "hold it", " for ", e.seconds, " s ...");
		break;
	case Kind::PhaseEnd:
		Say(" ", e.readings, " readings\n");
		break;
	case Kind::Warning:
		std::cerr << "zelvan-ctl: warning: " << e.text << "\n";
		break;
	case Kind::Failed:
		std::cout << std::flush;
		status = ReportFailure(*e.failure, exit_for);
		break;
	}
}

} // namespace

int RunRecord(const std::vector<std::string> &args, const SendToDriver &send, const ExitForExchange &exit_for)
{
	RecordPlan plan;
	if (!ParseRecordArgs(args, plan))
		return kExitUsage;
	int status = kExitOk;
	const RecordOutcome outcome =
		RecordToFile(plan, send, [&](const RecordEvent &event) { Show(event, exit_for, status); });
	const std::string shown = EscapeControlBytes(plan.file);
	if (outcome.failure) {
		if (outcome.stopped_partway)
			std::fprintf(stderr, "zelvan-ctl: the recording in %s stops there\n", shown.c_str());
		return status;
	}
	Say("Recorded ", outcome.readings, " readings into ", shown);
	if (outcome.lost > 0)
		Say(" (", outcome.lost, " lost on the way)");
	Say(".\nNext: zelvan-ctl tune ", AsArgument(shown), " --svg plot.svg\n");
	return kExitOk;
}

} // namespace zelvan::ctl
