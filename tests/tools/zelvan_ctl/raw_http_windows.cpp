// Raw requests over Winsock.
#include "tests/tools/zelvan_ctl/raw_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <vector>

namespace zelvan::test {

namespace {

void SendAll(SOCKET fd, const std::string &data)
{
	size_t sent = 0;
	while (sent < data.size()) {
		const int n = send(fd, data.data() + sent, static_cast<int>(data.size() - sent), 0);
		if (n <= 0)
			return;
		sent += static_cast<size_t>(n);
	}
}

} // namespace

std::string RawRequest(int port, const std::string &request, const std::string &then)
{
	static const bool started = [] {
		WSADATA data;
		return WSAStartup(MAKEWORD(2, 2), &data) == 0;
	}();
	if (!started)
		return {};
	const SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
	if (fd == INVALID_SOCKET)
		return {};
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<u_short>(port));
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
		closesocket(fd);
		return {};
	}
	SendAll(fd, request);
	std::string reply;
	std::vector<char> buffer(1 << 16);
	bool sent_then = then.empty();
	int n = 0;
	while (!sent_then || !then.empty() || !ResponseComplete(reply.data(), reply.size())) {
		if (!sent_then && ResponseComplete(reply.data(), reply.size())) {
			SendAll(fd, then);
			sent_then = true;
		}
		if ((n = recv(fd, buffer.data(), static_cast<int>(buffer.size()), 0)) <= 0)
			break;
		reply.append(buffer.data(), static_cast<size_t>(n));
	}
	closesocket(fd);
	return reply;
}

std::optional<std::string> RawRequestAsOtherUser(int, const std::string &)
{
	return std::nullopt;
}

} // namespace zelvan::test
