// zelvan-ctl panel: the panel's server in the foreground, the browser on its
// private launch file, until the page quits or stops asking.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/zelvan_ctl/cli/commands.h"
#include "tools/zelvan_ctl/cli/exit_status.h"
#include "tools/zelvan_ctl/panel/panel_open.h"
#include "tools/zelvan_ctl/panel/panel_server.h"

namespace zelvan::ctl {

int RunPanel(const std::vector<std::string> &args, const std::string &channel, std::chrono::milliseconds timeout)
{
	bool browser = true;
	int port = 0;
	for (size_t i = 0; i < args.size(); ++i) {
		if (args[i] == "--no-browser") {
			browser = false;
		} else if (args[i] == "--port" && i + 1 < args.size()) {
			char *end = nullptr;
			const long value = std::strtol(args[++i].c_str(), &end, 10);
			if (*end != '\0' || value < 1 || value > 65535) {
				std::fprintf(stderr, "zelvan-ctl: --port takes 1 to 65535\n");
				return kExitUsage;
			}
			port = static_cast<int>(value);
		} else {
			std::fprintf(stderr, "zelvan-ctl: panel takes only --no-browser and --port N (see zelvan-ctl panel --help)\n");
			return kExitUsage;
		}
	}
	PanelKeys keys;
	if (!RandomSecret(keys.open) || !RandomSecret(keys.session)) {
		std::fprintf(stderr, "zelvan-ctl: the system gave no random bytes for the panel's secret\n");
		return kExitError;
	}
	const auto send = [channel, timeout](const std::string &command) { return SendCommand(channel, command, timeout); };
	const std::string open_key = keys.open;
	PanelServer server(PanelApi(send, channel, timeout), std::move(keys));
	const StopOnSignals signals([&server] { server.Stop(); });
	std::string error;
	if (!server.Bind(port, error)) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", error.c_str());
		return kExitError;
	}
	const std::string address = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
	LaunchFile file;
	if (!WriteLaunchFile(address + "open?key=" + open_key, file, error)) {
		std::fprintf(stderr, "zelvan-ctl: %s\n", error.c_str());
		return kExitError;
	}
	std::printf("zelvan-ctl: the panel is at %s\n", address.c_str());
	if (!browser || !OpenInBrowser(file, error)) {
		if (browser)
			std::fprintf(stderr, "zelvan-ctl: %s\n", error.c_str());
		std::printf("zelvan-ctl: open %s in your browser (it lets only you in)\n", file.path.c_str());
	}
	std::fflush(stdout);
	server.Run();
	RemoveLaunchFile(file);
	return kExitOk;
}

} // namespace zelvan::ctl
