// zelvan-ctl's command line: its options, which command runs, and the
// commands that are one exchange with the driver.
#include "tools/zelvan_ctl/cli/command_line.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "control/control_channel.h"
#include "core/text_escape.h"
#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/channel/proximity_command.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/cli/usage.h"

namespace zelvan::ctl {
namespace {

int ExitFor(const Exchange &exchange, const std::string &channel)
{
	if (exchange.outcome != Outcome::Replied) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", WhyNoReply(exchange, channel).c_str());
		return exchange.outcome == Outcome::TimedOut ? kExitTimeout : kExitNoDriver;
	}
	return ClassifyReply(exchange.reply) == ReplyKind::Error ? kExitError : kExitOk;
}

int Watch(const std::string &channel, double seconds, std::chrono::milliseconds timeout)
{
	const auto period = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
	for (;;) {
		const auto exchange = SendCommand(channel, "status", timeout);
		if (exchange.outcome != Outcome::Replied) {
			std::printf("\n");
			return ExitFor(exchange, channel);
		}
		const std::string line = WatchLine(ReplyToJson(exchange.reply));
		std::printf("\r\033[K%s", EscapeControlBytes(line).c_str());
		std::fflush(stdout);
		std::this_thread::sleep_for(period);
	}
}

// A word that asks for a command's own usage: anywhere after the command's
// name, but only first after send, whose words are the driver's text.
bool AsksForHelp(const std::vector<std::string> &words)
{
	for (size_t i = 1; i < words.size(); ++i)
		if ((words[i] == "--help" || words[i] == "-h") && (i == 1 || words[0] != "send"))
			return !CommandUsage(words[0]).empty();
	return false;
}

// "proximity MODE --persist" is the driver's "proximity persist MODE" and
// "proximity MODE --for DURATION" its "proximity MODE for DURATION"; the
// driver checks the duration. Other words go as they are.
bool ProximityWords(std::vector<std::string> &words, std::string &error)
{
	std::string mode, duration;
	bool persist = false, timed = false;
	for (size_t i = 1; i < words.size(); ++i) {
		if (words[i] == "--persist") {
			persist = true;
		} else if (words[i] == "--for") {
			if (i + 1 == words.size()) {
				error = "--for needs a duration: seconds, or a whole number with s, m or h (90s, 10m, 2h)";
				return false;
			}
			timed = true;
			duration = words[++i];
		} else if (mode.empty()) {
			mode = words[i];
		} else {
			return true;
		}
	}
	if (!persist && !timed)
		return true;
	return ProximityCommand(mode, persist, timed, duration, words, error);
}

} // namespace

// The messages escape what they quote from files and the driver already.
int ReportFailure(const Failure &failure, const ExitForExchange &exit_for)
{
	if (failure.no_reply)
		return exit_for(*failure.no_reply);
	std::fprintf(stderr, "zelvan-ctl: %s\n", failure.message.c_str());
	return kExitError;
}

int RunCommandLine(const std::vector<std::string> &args)
{
	std::string channel = ControlChannelName();
	double timeout_s = 2.0;
	bool json = false;
	double watch = -1.0;
	std::vector<std::string> words;
	const size_t count = args.size();
	for (size_t i = 0; i < count; ++i) {
		const std::string a = args[i];
		if (!words.empty()) {
			words.push_back(a);
		} else if (a == "-h" || a == "--help") {
			std::fputs(FullUsage().c_str(), stdout);
			return kExitOk;
		} else if (a == "--version") {
			std::printf("zelvan-ctl %s\n", ZELVAN_VERSION);
			return kExitOk;
		} else if (a == "--json") {
			json = true;
		} else if (a == "--timeout" && i + 1 < count) {
			timeout_s = std::atof(args[++i].c_str());
		} else if (a == "--channel" && i + 1 < count) {
			channel = args[++i];
		} else if (a == "--watch") {
			watch = 1.0;
			if (i + 1 < count && std::atof(args[i + 1].c_str()) > 0)
				watch = std::atof(args[++i].c_str());
		} else if (a.rfind("--", 0) == 0) {
			std::fprintf(stderr, "zelvan-ctl: unknown option %s (see --help)\n", a.c_str());
			return kExitUsage;
		} else {
			words.push_back(a);
		}
	}
	const auto timeout = std::chrono::milliseconds(static_cast<long long>(timeout_s * 1000));
	if (watch > 0)
		return Watch(channel, watch, timeout);
	if (words.empty()) {
		std::fputs(FullUsage().c_str(), stderr);
		return kExitUsage;
	}
	if (AsksForHelp(words)) {
		std::fputs(CommandUsage(words[0]).c_str(), stdout);
		return kExitOk;
	}

	if (words[0] == "paths")
		return RunPaths({words.begin() + 1, words.end()});
	if (words[0] == "register" || words[0] == "unregister")
		return RunRegister({words.begin() + 1, words.end()}, words[0] == "register");
	if (words[0] == "doctor") {
		const bool fix = words.size() >= 2 && words[1] == "--fix";
		const bool dry_run = words.size() == 3 && words[2] == "--dry-run";
		if (words.size() == 1 || (fix && (words.size() == 2 || dry_run)))
			return RunDoctor(channel, timeout, json, fix, dry_run);
		std::fprintf(stderr, "zelvan-ctl: doctor takes only --fix or --fix --dry-run (see --help)\n");
		return kExitUsage;
	}
	if (words[0] == "unblock" && words.size() == 1)
		return RunUnblock();
	if (words[0] == "report")
		return RunReport({words.begin() + 1, words.end()}, channel, timeout);
	if (words[0] == "panel")
		return RunPanel({words.begin() + 1, words.end()}, channel, timeout);
	if (words[0] == "restore-config")
		return RunRestoreConfig({words.begin() + 1, words.end()}, channel, timeout);
	const auto send = [&](const std::string &command) { return SendCommand(channel, command, timeout); };
	const auto exit_for = [&](const Exchange &exchange) { return ExitFor(exchange, channel); };
	if (words[0] == "record")
		return RunRecord({words.begin() + 1, words.end()}, send, exit_for);
	if (words[0] == "tune")
		return RunTune({words.begin() + 1, words.end()}, send, exit_for);

	std::string command;
	const size_t first = words[0] == "send" ? 1 : 0;
	if (first == 1 && words.size() == 1) {
		std::fprintf(stderr, "zelvan-ctl: send needs the text to send\n");
		return kExitUsage;
	}
	bool timed_hold = false;
	if (first == 0 && words[0] == "proximity") {
		std::string error;
		if (!ProximityWords(words, error)) {
			std::fprintf(stderr, "zelvan-ctl: %s (see zelvan-ctl proximity --help)\n", error.c_str());
			return kExitUsage;
		}
		timed_hold = words.size() == 4 && words[2] == "for";
	}
	for (size_t i = first; i < words.size(); ++i)
		command += (i > first ? " " : "") + words[i];

	const auto exchange = SendCommand(channel, command, timeout);
	if (exchange.outcome == Outcome::Replied) {
		// JSON escapes control bytes itself; bytes that are not UTF-8 become U+FFFD
		// instead of ending the program with an exception.
		if (json)
			std::cout << ReplyToJson(exchange.reply).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
		else
			std::cout << EscapeControlBytes(exchange.reply) << "\n";
		if (timed_hold && exchange.reply == "ERR unknown command")
			std::fprintf(stderr, "zelvan-ctl: this driver has no timed hold (it is older than zelvan-ctl); "
			                     "update the driver, or use proximity on|off and later proximity auto\n");
	}
	return ExitFor(exchange, channel);
}

} // namespace zelvan::ctl
