// Raw requests over POSIX sockets; the other user's is a forked child that
// drops to uid 65534 and uses only system calls after the fork.
#include "tests/tools/zelvan_ctl/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace zelvan::test {
namespace {

// Only system calls: the child of a threaded process may call nothing else.
bool WriteAll(int fd, const char *data, size_t size)
{
	size_t sent = 0;
	while (sent < size) {
		const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
		if (n <= 0)
			return false;
		sent += static_cast<size_t>(n);
	}
	return true;
}

ssize_t Exchange(int port, const char *request, size_t size, char *reply, size_t capacity, const char *then = nullptr,
                 size_t then_size = 0)
{
	const int fd = socket(AF_INET, SOCK_STREAM, 0);
	if (fd < 0)
		return -1;
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<uint16_t>(port));
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
		close(fd);
		return -1;
	}
	WriteAll(fd, request, size);
	size_t got = 0;
	bool sent_then = then_size == 0;
	while (got < capacity && (!sent_then || then_size != 0 || !ResponseComplete(reply, got))) {
		if (!sent_then && ResponseComplete(reply, got)) {
			// A server that closed at once makes this fail: the read below sees the end.
			WriteAll(fd, then, then_size);
			sent_then = true;
		}
		const ssize_t n = read(fd, reply + got, capacity - got);
		if (n <= 0)
			break;
		got += static_cast<size_t>(n);
	}
	close(fd);
	return static_cast<ssize_t>(got);
}

} // namespace

std::string RawRequest(int port, const std::string &request, const std::string &then)
{
	std::vector<char> reply(1 << 20);
	const ssize_t got =
	    Exchange(port, request.data(), request.size(), reply.data(), reply.size(), then.data(), then.size());
	return got < 0 ? std::string() : std::string(reply.data(), static_cast<size_t>(got));
}

std::optional<std::string> RawRequestAsOtherUser(int port, const std::string &request)
{
	if (geteuid() != 0)
		return std::nullopt;
	int pipe_fds[2];
	if (pipe(pipe_fds) != 0)
		return std::string();
	std::vector<char> reply(1 << 16);
	const pid_t pid = fork();
	if (pid == 0) {
		close(pipe_fds[0]);
		if (setgid(65534) != 0 || setuid(65534) != 0)
			_exit(2);
		const ssize_t got = Exchange(port, request.data(), request.size(), reply.data(), reply.size());
		if (got > 0 && write(pipe_fds[1], reply.data(), static_cast<size_t>(got)) != got)
			_exit(3);
		_exit(0);
	}
	close(pipe_fds[1]);
	std::string text;
	ssize_t n = 0;
	while ((n = read(pipe_fds[0], reply.data(), reply.size())) > 0)
		text.append(reply.data(), static_cast<size_t>(n));
	close(pipe_fds[0]);
	int status = 0;
	waitpid(pid, &status, 0);
	return text;
}

} // namespace zelvan::test
