// zelvan-ctl: talks to the running driver over its control channel.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "control/control_channel.h"
#include "core/text_escape.h"
#include "tools/zelvan_ctl/cli/console_text.h"
#include "tools/zelvan_ctl/channel/control_client.h"
#include "tools/zelvan_ctl/doctor/doctor.h"
#include "tools/zelvan_ctl/doctor/doctor_steamvr.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/doctor/path_registry.h"
#include "tools/zelvan_ctl/tuning/sample_recorder.h"
#include "tools/zelvan_ctl/channel/status_line.h"
#include "tools/zelvan_ctl/tuning/tune.h"

namespace {

using zelvan::ctl::kExitError;
using zelvan::ctl::kExitNoDriver;
using zelvan::ctl::kExitOk;
using zelvan::ctl::kExitTimeout;
using zelvan::ctl::kExitUsage;

void Usage(std::FILE *out)
{
	std::fprintf(out,
		"Usage: zelvan-ctl [options] COMMAND [ARGS...]\n"
		"\n"
		"Sends one command to the Zelvan Proximity driver running inside SteamVR and\n"
		"prints its one-line reply.\n"
		"\n"
		"Commands:\n"
		"  status                    presence, sensor, calibration, settings and IPD\n"
		"  proximity on|off          force the presence value (manual override)\n"
		"  proximity auto            give presence back to the sensor\n"
		"  proximity on|off|auto --persist\n"
		"                            the same, and kept as the presence_mode setting\n"
		"                            for the next runs\n"
		"  ipd MM                    set the IPD in millimetres (48 to 75)\n"
		"  ipd?                      the IPD in force\n"
		"  load_lh_config PATH       load the eye rotations from a calibration file\n"
		"  test_handle HANDLE 0|1    push a value into a boolean input component\n"
		"  set KEY VALUE             moving_avg_length, report_rate_ms or\n"
		"                            threshold_offset: changed now and stored for the\n"
		"                            next runs\n"
		"  samples [N]               the raw readings after reading number N\n"
		"  send TEXT...              send TEXT as it is (words joined by one space)\n"
		"  doctor                    check installation, SteamVR, driver, sensor and\n"
		"                            calibration; one line each (exit 1 if one fails)\n"
		"  paths KEY [REGISTRY]      the path registry's runtime, external_drivers,\n"
		"                            config or log folders, one a line (for scripts)\n"
		"  register FOLDER           register a driver folder with SteamVR through its\n"
		"  unregister FOLDER         vrpathreg, or say how (the install scripts run it)\n"
		"  doctor --fix [--dry-run]  with SteamVR closed: unblock and enable the driver\n"
		"                            in steamvr.vrsettings, unregister folders that are\n"
		"                            gone and copies beside the installed one, then\n"
		"                            check (--dry-run: only say what it would do)\n"
		"  unblock                   with SteamVR closed: remove SteamVR's safe-mode\n"
		"                            block on the driver (the install scripts run it;\n"
		"                            exit 1 when the driver stays blocked or its\n"
		"                            settings file cannot be read)\n"
		"  record [--seconds S] FILE the sensor's raw readings into FILE while you\n"
		"                            wear the headset, for S seconds (default 60)\n"
		"  record --guided [--seconds S] [--count-down S] FILE\n"
		"                            the same, led by prompts: three rounds of taking\n"
		"                            the headset off and putting it on, S seconds each\n"
		"                            (default 10) after a count-down (default 3)\n"
		"  tune FILE [--svg OUT] [--apply]\n"
		"                            replay a recording through the detector at many\n"
		"                            settings and recommend the best; --svg plots it,\n"
		"                            --apply sets it in the running driver\n"
		"\n"
		"Options:\n"
		"  --timeout SECONDS         how long to retry while the driver is busy and to\n"
		"                            wait for its reply (default 2)\n"
		"  --json                    print the reply as one JSON object with typed values\n"
		"  --watch [SECONDS]         repeat status every SECONDS (default 1), one line\n"
		"  --channel NAME            another channel than %s\n"
		"  --version                 the version of zelvan-ctl and the driver folder\n"
		"  -h, --help                this text\n"
		"\n"
		"Exit status: 0 an OK reply or a status line, 1 an ERR reply, 2 no driver\n"
		"answers (or the channel belongs to another user), 3 time-out, 64 usage\n"
		"error. Control characters in replies are shown as \\xNN.\n"
		"\n"
		"Examples:\n"
		"  zelvan-ctl status\n"
		"  zelvan-ctl --json status | jq .proximity\n"
		"  zelvan-ctl proximity on && sleep 10 && zelvan-ctl proximity auto\n"
		"  zelvan-ctl ipd 63.5\n"
		"  zelvan-ctl --watch 0.5\n",
		zelvan::ControlChannelName().c_str());
}

int ExitFor(const zelvan::ctl::Exchange &exchange, const std::string &channel)
{
	using zelvan::ctl::Outcome;
	switch (exchange.outcome) {
	case Outcome::NoDriver:
		std::fprintf(stderr, "zelvan-ctl: nothing answers on %s; the driver is probably not running\n", channel.c_str());
		return kExitNoDriver;
	case Outcome::TimedOut:
		std::fprintf(stderr, "zelvan-ctl: no reply on %s in time (the driver is busy or stalled)\n", channel.c_str());
		return kExitTimeout;
	case Outcome::Failed:
		std::fprintf(stderr, "zelvan-ctl: %s: %s\n", channel.c_str(), zelvan::EscapeControlBytes(exchange.reply).c_str());
		return kExitNoDriver;
	case Outcome::Replied:
		break;
	}
	return zelvan::ctl::ClassifyReply(exchange.reply) == zelvan::ctl::ReplyKind::Error ? kExitError : kExitOk;
}

int Watch(const std::string &channel, double seconds, std::chrono::milliseconds timeout)
{
	const auto period = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
	for (;;) {
		const auto exchange = zelvan::ctl::SendCommand(channel, "status", timeout);
		if (exchange.outcome != zelvan::ctl::Outcome::Replied) {
			std::printf("\n");
			return ExitFor(exchange, channel);
		}
		const std::string line = zelvan::ctl::WatchLine(zelvan::ctl::ReplyToJson(exchange.reply));
		std::printf("\r\033[K%s", zelvan::EscapeControlBytes(line).c_str());
		std::fflush(stdout);
		std::this_thread::sleep_for(period);
	}
}

int Main(int argc, char **argv);

} // namespace

// What the files of SteamVR or of other programs hold must not end the
// program without a word: an exception that got this far is reported.
int main(int argc, char **argv)
{
	try {
		return Main(argc, argv);
	} catch (const std::exception &e) {
		std::fflush(stdout);
		std::fprintf(stderr, "zelvan-ctl: %s\n", zelvan::EscapeControlBytes(e.what()).c_str());
		return kExitError;
	}
}

namespace {

int Main(int argc, char **argv)
{
	zelvan::ctl::PrintUtf8ToConsole();
	std::vector<std::string> args;
	if (!zelvan::ctl::Utf8Arguments(argc, argv, args)) {
		std::fprintf(stderr, "zelvan-ctl: an argument is not valid text (half of a UTF-16 surrogate pair)\n");
		return kExitUsage;
	}
	std::string channel = zelvan::ControlChannelName();
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
			Usage(stdout);
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
		Usage(stderr);
		return kExitUsage;
	}

	if (words[0] == "paths")
		return zelvan::ctl::RunPaths({words.begin() + 1, words.end()});
	if (words[0] == "register" || words[0] == "unregister")
		return zelvan::ctl::RunRegister({words.begin() + 1, words.end()}, words[0] == "register");
	if (words[0] == "doctor") {
		const bool fix = words.size() >= 2 && words[1] == "--fix";
		const bool dry_run = words.size() == 3 && words[2] == "--dry-run";
		if (words.size() == 1 || (fix && (words.size() == 2 || dry_run)))
			return zelvan::ctl::RunDoctor(channel, timeout, json, fix, dry_run);
		std::fprintf(stderr, "zelvan-ctl: doctor takes only --fix or --fix --dry-run (see --help)\n");
		return kExitUsage;
	}
	if (words[0] == "unblock" && words.size() == 1)
		return zelvan::ctl::RunUnblock();
	const auto send = [&](const std::string &command) { return zelvan::ctl::SendCommand(channel, command, timeout); };
	const auto exit_for = [&](const zelvan::ctl::Exchange &exchange) { return ExitFor(exchange, channel); };
	if (words[0] == "record")
		return zelvan::ctl::RunRecord({words.begin() + 1, words.end()}, send, exit_for);
	if (words[0] == "tune")
		return zelvan::ctl::RunTune({words.begin() + 1, words.end()}, send, exit_for);

	std::string command;
	const size_t first = words[0] == "send" ? 1 : 0;
	if (first == 1 && words.size() == 1) {
		std::fprintf(stderr, "zelvan-ctl: send needs the text to send\n");
		return kExitUsage;
	}
	// "proximity MODE --persist" is the driver's "proximity persist MODE".
	if (first == 0 && words.size() == 3 && words[0] == "proximity" && words[2] == "--persist")
		words = {"proximity", "persist", words[1]};
	for (size_t i = first; i < words.size(); ++i)
		command += (i > first ? " " : "") + words[i];

	const auto exchange = zelvan::ctl::SendCommand(channel, command, timeout);
	if (exchange.outcome == zelvan::ctl::Outcome::Replied) {
		// JSON escapes control bytes itself; bytes that are not UTF-8 become U+FFFD
		// instead of ending the program with an exception.
		if (json)
			std::cout << zelvan::ctl::ReplyToJson(exchange.reply).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
		else
			std::cout << zelvan::EscapeControlBytes(exchange.reply) << "\n";
	}
	return ExitFor(exchange, channel);
}

} // namespace
