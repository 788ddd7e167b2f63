// The control channel on POSIX: an abstract-namespace Unix-domain
// SOCK_SEQPACKET socket, polled without blocking. An abstract name has no file
// to hijack or leave behind, and it is reachable from inside the Steam Linux
// Runtime container, which shares the network namespace but not
// XDG_RUNTIME_DIR. Abstract sockets carry no permissions, so every client's
// uid is checked instead.
#include "control/control_channel.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control/abstract_socket_posix.h"
#include "control/refusal_log.h"
#include "core/driver_log.h"

namespace zelvan {
namespace {

// Room for a few clients connecting at once: zelvan-ctl's record polls while
// a script asks for the status.
constexpr int kListenBacklog = 16;

// Another user's connections are closed without taking the frame's one
// served message, as many as this a frame: a loop of them can no longer
// crowd the owner's client out, and a flood still costs a bounded frame.
constexpr unsigned kRefusedPerFrame = 8;

void CloseClient(bool &connected, PipeClient &client)
{
	if (client.handle != kInvalidPipe)
		close(static_cast<int>(client.handle));
	client = PipeClient{};
	connected = false;
}

int64_t NowMs()
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
		std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The abstract name without its leading '@'.
std::string AbstractName()
{
	const char *test_name = std::getenv("ZELVAN_TEST_CHANNEL");
	if (test_name != nullptr && test_name[0] != '\0')
		return test_name;
	return "zelvan_proximity_ctl-" + std::to_string(geteuid());
}

// A client is served only when it runs as the same user as the runtime.
bool AcceptFromOwner(int fd)
{
	ucred peer{};
	socklen_t size = sizeof(peer);
	if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
		return false;
	if (peer.uid == geteuid())
		return true;
	const auto uid = static_cast<unsigned>(peer.uid);
	static RefusalLog refusals;
	const int64_t now = NowMs();
	const unsigned count = refusals.Refused(uid, now);
	unsigned left_out = 0, lines = 0, seconds = 0;
	if (refusals.TakeSummary(now, left_out, lines, seconds))
		DriverLog("Pipe: Refused clients %u more times in the last %u s (%u lines left out)\n", left_out, seconds, lines);
	if (count == 1)
		DriverLog("Pipe: Refused client of uid %u\n", uid);
	else if (count > 1)
		DriverLog("Pipe: Refused client of uid %u (%u times since the last line)\n", uid, count);
	return false;
}

} // namespace

std::string ControlChannelName()
{
	return "@" + AbstractName();
}

bool ControlChannelNameInUse(unsigned long error)
{
	return error == EADDRINUSE;
}

PipeHandle CreateControlChannel(unsigned long &error)
{
	const std::string name = AbstractName();
	AbstractAddress address;
	error = 0;
	if (!MakeAbstractAddress(name, address)) {
		error = ENAMETOOLONG;
	} else {
		const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
		if (fd < 0) {
			error = static_cast<unsigned long>(errno);
		} else if (bind(fd, address.get(), address.length) != 0 || listen(fd, kListenBacklog) != 0) {
			error = static_cast<unsigned long>(errno);
			close(fd);
		} else {
			DriverLog("Pipe: Created @%s\n", name.c_str());
			return fd;
		}
	}
	return kInvalidPipe;
}

ControlPoll PollControlChannel(PipeHandle pipe, bool &connected, PipeClient &client, char (&buffer)[512])
{
	if (pipe == kInvalidPipe)
		return {};
	for (unsigned refused = 0; !connected;) {
		const int fd = accept4(static_cast<int>(pipe), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
		if (fd < 0)
			return {};
		if (!AcceptFromOwner(fd)) {
			close(fd);
			if (++refused == kRefusedPerFrame)
				return {};
			continue;
		}
		client.handle = fd;
		client.idle_deadline_ms = NowMs() + kIdleClientMs;
		connected = true;
	}

	// MSG_TRUNC reports the whole message's length, so an over-long one is
	// refused whole instead of running its tail as a command of its own.
	const ssize_t n = recv(static_cast<int>(client.handle), buffer, sizeof(buffer), MSG_TRUNC | MSG_DONTWAIT);
	if (n > static_cast<ssize_t>(kMaxCommandBytes))
		return {ControlPoll::TooLong, 0};
	if (n > 0) {
		buffer[n] = '\0';
		return {ControlPoll::Command, static_cast<size_t>(n)};
	}
	bool gone = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
	if (n == 0) {
		// A zero-length message and the end of the connection both read as 0;
		// only a hang-up releases the instance.
		pollfd p{static_cast<int>(client.handle), POLLIN | POLLRDHUP, 0};
		gone = poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
	}
	// A client that sends no command would hold the only instance forever.
	if (gone || NowMs() >= client.idle_deadline_ms)
		CloseClient(connected, client);
	return {};
}

void ReplyAndRelease(PipeHandle, bool &connected, PipeClient &client, const char *reply)
{
	// The reply fits the socket's buffer, so this never waits; closing keeps
	// it readable for the client.
	if (client.handle != kInvalidPipe)
		send(static_cast<int>(client.handle), reply, std::strlen(reply), MSG_NOSIGNAL | MSG_DONTWAIT);
	CloseClient(connected, client);
}

void DestroyControlChannel(PipeHandle &pipe, bool &connected, PipeClient &client)
{
	if (pipe == kInvalidPipe)
		return;
	CloseClient(connected, client);
	close(static_cast<int>(pipe));
	pipe = kInvalidPipe;
	DriverLog("Pipe: Destroyed\n");
}

} // namespace zelvan
