// What differs per system in starting the panel: the secret's randomness,
// the private launch file that carries it to the browser, and the browser.
#pragma once

#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zelvan::ctl {

// `size` bytes from the system's random source; false when it gives none.
bool RandomBytes(unsigned char *bytes, size_t size);

// 32 random bytes (256 bits) as hex; false when the system gives none.
bool RandomSecret(std::string &hex);

// A file only this user can read, holding a page that sends the browser to
// `address`, so that the secret in it never stands on a command line.
struct LaunchFile {
	std::string folder; // made for it, removed with it (empty when shared)
	std::string path;
};
bool WriteLaunchFile(const std::string &address, LaunchFile &file, std::string &error);
void RemoveLaunchFile(const LaunchFile &file);

// The default browser on the launch file; false with `error`.
bool OpenInBrowser(const LaunchFile &file, std::string &error);

// Whether the other end of the loopback connection `socket` is a process of
// this user: another user who learnt the cookie (a server of theirs on
// another port of 127.0.0.1 is sent it) still has no way in.
bool PeerIsThisUser(uintptr_t socket);

// The uid that owns the peer's end of a loopback connection, from Linux's
// /proc/net/tcp (the Wine build reads it through Z:): the line whose local
// end is the peer and whose remote end is us. Addresses as the socket gives
// them, ports in host order; false when no line is that connection's.
bool TcpTableOwner(std::FILE *table, uint32_t peer_addr, uint16_t peer_port, uint32_t our_addr, uint16_t our_port,
                   unsigned long &uid);

// While it lives, Ctrl-C and the system's request to end (SIGTERM, SIGHUP;
// a console's Ctrl-C, Ctrl-Break or close) call `stop` instead of killing
// the process, so that the panel ends as after quit: its launch file and a
// half-made recording removed. Made before any other thread starts.
class StopOnSignals {
public:
	explicit StopOnSignals(std::function<void()> stop);
	~StopOnSignals();
	StopOnSignals(const StopOnSignals &) = delete;
	StopOnSignals &operator=(const StopOnSignals &) = delete;

private:
	struct State;
	std::unique_ptr<State> state_;
};

// The launch file's text: a redirect that needs no script.
std::string LaunchPage(const std::string &address);

} // namespace zelvan::ctl
