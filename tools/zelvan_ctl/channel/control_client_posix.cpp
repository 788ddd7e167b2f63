// The control client on POSIX: a SOCK_SEQPACKET connection to the driver's
// abstract-namespace Unix-domain socket.
#include "tools/zelvan_ctl/channel/control_client.h"

#include "control/abstract_socket_posix.h"

#include <cerrno>
#include <cstring>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zelvan::ctl {

// The server must run as this user: anyone can take an abstract name, and a
// stranger's server could answer with forged replies.
std::string ServerOwnerProblem(int fd, long &foreign_uid)
{
	ucred peer{};
	socklen_t size = sizeof(peer);
	if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
		return std::string("cannot tell who serves the channel: ") + std::strerror(errno);
	if (peer.uid == geteuid())
		return {};
	foreign_uid = static_cast<long>(peer.uid);
	return "the channel is held by uid " + std::to_string(peer.uid) + ", not by you (uid " +
	       std::to_string(geteuid()) + "); not talking to it";
}

Exchange SendCommand(const std::string &channel, const std::string &command, std::chrono::milliseconds timeout)
{
	const auto deadline = std::chrono::steady_clock::now() + timeout;
	// "@name" and "name" both mean the abstract name.
	const std::string name = channel.rfind('@', 0) == 0 ? channel.substr(1) : channel;
	AbstractAddress address;
	if (!MakeAbstractAddress(name, address))
		return {Outcome::Failed, "not a channel name: " + channel};

	int fd = -1;
	for (;;) {
		fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
		if (fd < 0)
			return {Outcome::Failed, std::strerror(errno)};
		if (connect(fd, address.get(), address.length) == 0)
			break;
		const int error = errno;
		close(fd);
		if (error == ENOENT || error == ECONNREFUSED)
			return {Outcome::NoDriver, {}};
		if (error != EAGAIN && error != EINPROGRESS)
			return {Outcome::Failed, std::strerror(error)};
		// The driver's backlog is full: it serves one client at a time.
		if (std::chrono::steady_clock::now() >= deadline)
			return {Outcome::TimedOut, {}};
		std::this_thread::sleep_for(std::chrono::milliseconds(20));
	}
	long foreign_uid = -1;
	if (const std::string problem = ServerOwnerProblem(fd, foreign_uid); !problem.empty()) {
		close(fd);
		return {Outcome::Failed, problem, foreign_uid};
	}

	Exchange result{Outcome::TimedOut, {}};
	if (send(fd, command.data(), command.size(), MSG_NOSIGNAL) < 0) {
		result = {Outcome::Failed, std::strerror(errno)};
	} else {
		for (;;) {
			const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
			if (left.count() <= 0)
				break;
			pollfd p{fd, POLLIN, 0};
			if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
				continue;
			char buffer[1024];
			const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
			if (n > 0) {
				result = {Outcome::Replied, std::string(buffer, static_cast<size_t>(n))};
				break;
			}
			if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
				result = {Outcome::Failed, "the driver closed the connection without a reply"};
				break;
			}
		}
	}
	close(fd);
	return result;
}

} // namespace zelvan::ctl
