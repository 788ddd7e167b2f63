// Raw HTTP requests over plain sockets to 127.0.0.1, so that a test can send
// what no browser or client library would.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace zelvan::test {

// Sends `request` as it is and reads one response: until its headers and
// Content-Length bytes came, or the server closed; "" when the connection
// failed. A refused request's connection may stay open, so the close is not
// waited for. With `then`, that is sent once the response came, and
// everything until the server closes is returned: what the server makes of
// bytes that follow a response.
std::string RawRequest(int port, const std::string &request, const std::string &then = {});

// The same from a process of user 65534 (POSIX, as root); nothing where
// that cannot be done.
std::optional<std::string> RawRequestAsOtherUser(int port, const std::string &request);

// Whether `text` holds a whole response. No allocation: a forked child
// calls it.
inline bool ResponseComplete(const char *text, size_t size)
{
	for (size_t end = 0; end + 4 <= size; ++end) {
		if (std::memcmp(text + end, "\r\n\r\n", 4) != 0)
			continue;
		size_t length = 0;
		for (size_t at = 0; at + 16 <= end; ++at)
			if (std::memcmp(text + at, "Content-Length: ", 16) == 0)
				length = std::strtoul(text + at + 16, nullptr, 10);
		return size >= end + 4 + length;
	}
	return false;
}

} // namespace zelvan::test
