// The usage text, one table row per command line of it, in the order shown.
#include "tools/zelvan_ctl/cli/usage.h"

#include "control/control_channel.h"

namespace zelvan::ctl {
namespace {

struct UsageRow {
	const char *command;
	const char *lines;
};

// register and unregister share one description over two rows.
constexpr UsageRow kRows[] = {
	{"status",
		"  status                    presence, sensor, calibration, settings and IPD\n"},
	{"proximity",
		"  proximity on|off          force the presence value (manual override)\n"},
	{"proximity",
		"  proximity auto            give presence back to the sensor\n"},
	{"proximity",
		"  proximity on|off|auto --persist\n"
		"                            the same, and kept as the presence_mode setting\n"
		"                            for the next runs\n"},
	{"proximity",
		"  proximity on|off --for DURATION\n"
		"                            force it for a while (90s, 10m, 2h; 1s to 24h),\n"
		"                            then the sensor (or a kept on or off) decides again\n"},
	{"ipd",
		"  ipd MM                    set the IPD in millimetres (48 to 75)\n"},
	{"ipd?",
		"  ipd?                      the IPD in force\n"},
	{"load_lh_config",
		"  load_lh_config PATH       load the eye rotations from a calibration file\n"},
	{"test_handle",
		"  test_handle HANDLE 0|1    push a value into a boolean input component\n"},
	{"set",
		"  set KEY VALUE             moving_avg_length, report_rate_ms or\n"
		"                            threshold_offset: changed now and stored for the\n"
		"                            next runs\n"},
	{"samples",
		"  samples [N]               the raw readings after reading number N\n"},
	{"send",
		"  send TEXT...              send TEXT as it is (words joined by one space)\n"},
	{"doctor",
		"  doctor                    check installation, SteamVR, driver, sensor and\n"
		"                            calibration; one line each (exit 1 if one fails)\n"},
	{"paths",
		"  paths KEY [REGISTRY]      the path registry's runtime, external_drivers,\n"
		"                            config or log folders, one a line (for scripts)\n"},
	{"register",
		"  register FOLDER           register a driver folder with SteamVR through its\n"},
	{"unregister",
		"  unregister FOLDER         vrpathreg, or say how (the install scripts run it)\n"},
	{"doctor",
		"  doctor --fix [--dry-run]  with SteamVR closed: unblock and enable the driver\n"
		"                            in steamvr.vrsettings, unregister folders that are\n"
		"                            gone and copies beside the installed one, then\n"
		"                            check (--dry-run: only say what it would do)\n"},
	{"unblock",
		"  unblock                   with SteamVR closed: remove SteamVR's safe-mode\n"
		"                            block on the driver (the install scripts run it;\n"
		"                            exit 1 when the driver stays blocked or its\n"
		"                            settings file cannot be read)\n"},
	{"report",
		"  report [FILE]             write what a bug report needs into a new FILE\n"
		"                            (default zelvan-report-DATE.txt here): versions,\n"
		"                            doctor, status, the driver's settings, registry\n"
		"                            entries and log lines, home and user name removed\n"},
	{"panel",
		"  panel [--no-browser] [--port N]\n"
		"                            the panel in your browser: status, presence and\n"
		"                            IPD, served on 127.0.0.1 until it quits or a\n"
		"                            minute after its page closed (--no-browser:\n"
		"                            print the private file to open instead)\n"},
	{"restore-config",
		"  restore-config [--list]   the copies of the headset's configuration that\n"
		"                            the driver kept before its uploads\n"},
	{"restore-config",
		"  restore-config FILE [--yes]\n"
		"                            with SteamVR closed: show what FILE (a kept copy)\n"
		"                            changes in the headset's configuration, ask, then\n"
		"                            upload it and read it back (--yes: do not ask)\n"},
	{"record",
		"  record [--seconds S] FILE the sensor's raw readings into FILE while you\n"
		"                            wear the headset, for S seconds (default 60)\n"},
	{"record",
		"  record --guided [--seconds S] [--count-down S] FILE\n"
		"                            the same, led by prompts: three rounds of taking\n"
		"                            the headset off and putting it on, S seconds each\n"
		"                            (default 10) after a count-down (default 3)\n"},
	{"tune",
		"  tune FILE [--svg OUT] [--apply]\n"
		"                            replay a recording through the detector at many\n"
		"                            settings and recommend the best; --svg plots it,\n"
		"                            --apply sets it in the running driver\n"},
};

constexpr const char *kHead =
		"Usage: zelvan-ctl [options] COMMAND [ARGS...]\n"
		"\n"
		"Sends one command to the Zelvan Proximity driver running inside SteamVR and\n"
		"prints its one-line reply.\n"
		"\n"
		"Commands:\n";

// Around the channel's name.
constexpr const char *kTail =
		"\n"
		"Options:\n"
		"  --timeout SECONDS         how long to retry while the driver is busy and to\n"
		"                            wait for its reply (default 2)\n"
		"  --json                    print the reply as one JSON object with typed values\n"
		"  --watch [SECONDS]         repeat status every SECONDS (default 1), one line\n"
		"  --channel NAME            another channel than ";
constexpr const char *kTailAfterChannel =
		"\n"
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
		"  zelvan-ctl proximity on --for 10s\n"
		"  zelvan-ctl ipd 63.5\n"
		"  zelvan-ctl --watch 0.5\n";

bool SharesRows(const std::string &command, const char *row)
{
	const std::string name = row;
	return name == command || (command == "register" && name == "unregister") ||
	       (command == "unregister" && name == "register");
}

} // namespace

std::string FullUsage()
{
	std::string text = kHead;
	for (const UsageRow &row : kRows)
		text += row.lines;
	return text + kTail + ControlChannelName() + kTailAfterChannel;
}

std::string CommandUsage(const std::string &command)
{
	std::string rows;
	for (const UsageRow &row : kRows)
		if (SharesRows(command, row.command))
			rows += row.lines;
	if (rows.empty())
		return {};
	return "Usage: zelvan-ctl [options] " + command + " ...\n\n" + rows +
	       "\nzelvan-ctl --help: every command, the options and the exit statuses.\n";
}

} // namespace zelvan::ctl
