// The control channel's address on POSIX, for the driver and its clients: a
// name in the abstract namespace, which has no file and is ended by its
// length rather than by a terminator.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>

namespace zelvan {

struct AbstractAddress {
	sockaddr_un address{};
	socklen_t length = 0;

	const sockaddr *get() const { return reinterpret_cast<const sockaddr *>(&address); }
};

// False when `name` (without its leading '@') is empty or too long.
inline bool MakeAbstractAddress(const std::string &name, AbstractAddress &out)
{
	out = AbstractAddress{};
	out.address.sun_family = AF_UNIX;
	if (name.empty() || name.size() + 1 > sizeof(out.address.sun_path))
		return false;
	std::memcpy(out.address.sun_path + 1, name.data(), name.size()); // sun_path[0] stays 0
	out.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
	return true;
}

} // namespace zelvan
