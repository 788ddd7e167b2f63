// The panel's web server on the loopback interface: the gate every request
// passes (secret, cookie, Host, Origin, content type), its limits, and the
// end a minute after the page stopped asking.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/zelvan_ctl/panel/panel_api.h"

namespace zelvan::ctl {

struct PanelKeys {
	std::string open;    // in the launch file's address, swapped at /open
	std::string session; // the cookie's value
};

class PanelServer {
public:
	PanelServer(PanelApi api, PanelKeys keys, std::chrono::milliseconds idle = std::chrono::minutes(1));
	~PanelServer();

	// 127.0.0.1 only; `port` 0 lets the system pick. False with `error`.
	bool Bind(int port, std::string &error);
	int Port() const;
	// Serves until POST /api/quit or `idle` after the last request that
	// passed the gate; then returns.
	void Run();
	// From any thread: Run returns soon.
	void Stop();
	uint64_t Refused() const;

private:
	struct State;
	std::unique_ptr<State> state_;
};

} // namespace zelvan::ctl
