// lighthouse_console stand-in: plays the runtime's console tool for the
// driver's tests and demo, with headsets kept as files and chosen faults.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <string>
#include <system_error>
#include <vector>

#include "tools/console_standin/config_store.h"
#include "tools/console_standin/config_text.h"
#include "tools/console_standin/console_session.h"
#include "tools/console_standin/fault_mode.h"
#include "tools/console_standin/platform.h"

namespace {

using namespace zelvan::console_standin;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadEnvironment = 2;
constexpr int kExitUsage = 64;
constexpr const char *kDefaultIpdMm = "63.5";

void Usage(std::FILE *out)
{
	std::fprintf(out,
		"Usage: lighthouse_console                         the interactive console\n"
		"       lighthouse_console --init-store DIR SERIAL [MM]\n"
		"       lighthouse_console --beat FILE\n"
		"       lighthouse_console --help\n"
		"\n"
		"Stands in for SteamVR's lighthouse_console in the Zelvan Proximity tests and\n"
		"demo. It prints a banner and the prompt \"lh> \", then reads one command per\n"
		"line (LF or CR LF) from standard input:\n"
		"  serial SERIAL          select the headset with this serial\n"
		"  downloadconfig FILE    write its stored configuration to FILE, byte for byte\n"
		"  uploadconfig FILE      store FILE (valid JSON) as its configuration\n"
		"  help                   list the commands\n"
		"  exit, quit             leave with status 0 (so does the end of input)\n"
		"A FILE is the rest of the line and may contain spaces.\n"
		"\n"
		"--init-store DIR SERIAL [MM]\n"
		"  writes DIR/SERIAL.json, the configuration of a new second-model headset,\n"
		"  with \"default_mm\" : MM (a JSON number written as given, default %s),\n"
		"  creating DIR when needed, and exits.\n"
		"\n"
		"--beat FILE\n"
		"  rewrites FILE with a counter every 100 ms for 30 s: the child that the\n"
		"  orphan fault leaves behind, whose heartbeat shows whether it still runs.\n"
		"\n"
		"Environment:\n"
		"  ZELVAN_LH_STORE  folder of the headsets: one SERIAL.json per serial, kept as\n"
		"                   raw text. Unset or empty: every serial is unknown.\n"
		"  ZELVAN_LH_LOG    file to which every line received is appended, one log\n"
		"                   line each, with \\\\ \\r \\n \\t and \\xHH escapes, and\n"
		"                   \"<end of input>\" when standard input ends.\n"
		"  ZELVAN_LH_FAULT  misbehave in one way:\n"
		"%s"
		"Under Wine, absolute Unix paths in these variables and in DIR are taken as\n"
		"paths on drive Z:.\n"
		"\n"
		"Exit status: 0 done, 1 --init-store failed, 2 unknown ZELVAN_LH_FAULT,\n"
		"64 usage error; crash ends it abnormally.\n",
		kDefaultIpdMm, FaultModeList().c_str());
}

int InitStore(const std::vector<std::string> &args)
{
	if (args.size() < 3 || args.size() > 4) {
		std::fprintf(stderr, "lighthouse_console: --init-store takes DIR SERIAL [MM]\n");
		return kExitUsage;
	}
	const std::string folder = NativePath(args[1]);
	const std::string &serial = args[2];
	const std::string mm = args.size() == 4 ? args[3] : kDefaultIpdMm;
	if (!IsValidSerial(serial)) {
		std::fprintf(stderr, "lighthouse_console: '%s' cannot be a serial (printable ASCII, no / \\ : * ? \" < > |)\n",
		             serial.c_str());
		return kExitUsage;
	}
	if (!ParseJsonNumber(mm)) {
		std::fprintf(stderr, "lighthouse_console: MM must be a JSON number, not '%s'\n", mm.c_str());
		return kExitUsage;
	}
	std::error_code error;
	std::filesystem::create_directories(Utf8Path(folder), error);
	const ConfigStore store(folder);
	if (!store.Save(serial, DefaultConfigText(serial, mm))) {
		std::fprintf(stderr, "lighthouse_console: cannot write %s\n", store.PathFor(serial).c_str());
		return kExitFailed;
	}
	std::printf("Stored the default configuration of %s (default_mm %s) in %s\n", serial.c_str(), mm.c_str(),
	            store.PathFor(serial).c_str());
	return kExitOk;
}

// Bounded, so that a child that was not killed does not run forever.
int Beat(const std::vector<std::string> &args)
{
	if (args.size() != 2) {
		std::fprintf(stderr, "lighthouse_console: --beat takes FILE\n");
		return kExitUsage;
	}
	const std::string file = NativePath(args[1]);
	for (int beat = 0; beat < 300; ++beat) {
		WriteWholeFile(file, std::to_string(beat));
		std::this_thread::sleep_for(std::chrono::milliseconds(100));
	}
	return kExitOk;
}

int RunConsole()
{
	SessionSettings settings;
	const std::optional<Fault> fault = ParseFault(Environment("ZELVAN_LH_FAULT"));
	if (!fault) {
		std::fprintf(stderr, "lighthouse_console: unknown ZELVAN_LH_FAULT '%s'; it is one of:\n%s",
		             Environment("ZELVAN_LH_FAULT").c_str(), FaultModeList().c_str());
		return kExitBadEnvironment;
	}
	settings.fault = fault->mode;
	settings.cut_bytes = fault->cut_bytes;
	if (const std::string store = Environment("ZELVAN_LH_STORE"); !store.empty())
		settings.store_folder = NativePath(store);
	if (const std::string log = Environment("ZELVAN_LH_LOG"); !log.empty())
		settings.log_path = NativePath(log);
	ConsoleSession session(settings, stdin, stdout);
	return session.Run();
}

} // namespace

int main(int argc, char **argv)
{
	PrepareStandardStreams();
	std::vector<std::string> args = ProgramArguments(argc, argv);
	if (!args.empty())
		args.erase(args.begin());
	if (args.empty())
		return RunConsole();
	if (args[0] == "--help" || args[0] == "-h") {
		Usage(stdout);
		return kExitOk;
	}
	if (args[0] == "--init-store")
		return InitStore(args);
	if (args[0] == "--beat")
		return Beat(args);
	std::fprintf(stderr, "lighthouse_console: unknown argument '%s' (see --help)\n", args[0].c_str());
	return kExitUsage;
}
