// The control channel on POSIX: a Unix-domain SOCK_SEQPACKET socket in the
// user's runtime directory, mode 0600, polled without blocking.
#include "control/control_channel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "driver/driver_log.h"

namespace zelvan {
namespace {

void CloseClient(bool &connected, PipeClient &client)
{
	if (client.handle != kInvalidPipe)
		close(static_cast<int>(client.handle));
	client = PipeClient{};
	connected = false;
}

bool MakeAddress(const std::string &path, sockaddr_un &address)
{
	std::memset(&address, 0, sizeof(address));
	address.sun_family = AF_UNIX;
	if (path.size() >= sizeof(address.sun_path))
		return false;
	std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
	return true;
}

// Another live driver already serves the path when a connection succeeds.
bool PathIsServed(const sockaddr_un &address)
{
	const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	if (probe < 0)
		return false;
	const bool served = connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
	close(probe);
	return served;
}

int Fail(int fd, int error)
{
	if (fd >= 0)
		close(fd);
	DriverLog("Pipe: Failed to create named pipe (error %lu)\n", static_cast<unsigned long>(error));
	return -1;
}

} // namespace

std::string ControlChannelName()
{
	const char *runtime_dir = std::getenv("XDG_RUNTIME_DIR");
	if (runtime_dir != nullptr && runtime_dir[0] != '\0')
		return std::string(runtime_dir) + "/zelvan_proximity_ctl";
	return "/tmp/zelvan_proximity_ctl-" + std::to_string(getuid());
}

PipeHandle CreateControlChannel()
{
	const std::string path = ControlChannelName();
	sockaddr_un address;
	if (!MakeAddress(path, address))
		return Fail(-1, ENAMETOOLONG);
	if (PathIsServed(address))
		return Fail(-1, EADDRINUSE);

	const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return Fail(-1, errno);
	// Nobody answered on the path: a file left by a process that died.
	struct stat info;
	if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
		unlink(path.c_str());
	if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0)
		return Fail(fd, errno);
	// Nobody but the user may set the presence or the IPD.
	if (chmod(path.c_str(), 0600) != 0 || listen(fd, 4) != 0) {
		const int error = errno;
		unlink(path.c_str());
		return Fail(fd, error);
	}
	DriverLog("Pipe: Created %s\n", path.c_str());
	return fd;
}

ControlPoll PollControlChannel(PipeHandle pipe, bool &connected, PipeClient &client, char (&buffer)[512])
{
	if (pipe == kInvalidPipe)
		return {};
	if (!connected) {
		const int fd = accept4(static_cast<int>(pipe), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
		if (fd < 0)
			return {};
		client.handle = fd;
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
	if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
		return {};
	if (n == 0) {
		// A zero-length message and the end of the connection both read as 0;
		// only a hang-up releases the instance.
		pollfd p{static_cast<int>(client.handle), POLLIN | POLLRDHUP, 0};
		if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) == 0)
			return {};
	}
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
	unlink(ControlChannelName().c_str());
	pipe = kInvalidPipe;
	DriverLog("Pipe: Destroyed\n");
}

} // namespace zelvan
