// The POSIX channel against clients of another user: they are closed without
// taking the frame that serves the owner's client.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "control/abstract_socket_posix.h"
#include "control/control_channel.h"
#include "control/control_server.h"
#include "core/driver_log.h"
#include "driver/device_provider.h"
#include "tests/support/fake_runtime.h"

namespace zelvan {
namespace {

constexpr uid_t kOtherUid = 65534;

// A connection made under `uid`, which the channel sees as its peer; -1 when
// the channel's queue had no room.
int Connect(const std::string &name, uid_t uid)
{
	const uid_t own = geteuid();
	if (uid != own && seteuid(uid) != 0)
		return -1;
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	AbstractAddress address;
	if (fd >= 0 && (!MakeAbstractAddress(name, address) || connect(fd, address.get(), address.length) != 0)) {
		close(fd);
		fd = -1;
	}
	if (uid != own && seteuid(own) != 0)
		std::abort();
	return fd;
}

TEST(ControlChannelPosix, AnotherUsersConnectionsDoNotTakeTheOwnersFrame)
{
	if (geteuid() != 0)
		GTEST_SKIP() << "needs root to connect as another user";
	const struct {
		unsigned refused;       // connections of another user queued before the owner's
		unsigned idle_polls;    // polls that serve nobody before the owner's command
	} rows[] = {{0, 0}, {3, 0}, {7, 0}, {8, 1}, {15, 1}};
	const std::string name = ControlChannelName().substr(1); // without its '@'
	for (const auto &row : rows) {
		SCOPED_TRACE(::testing::Message() << row.refused << " refused first");
		unsigned long error = 0;
		PipeHandle pipe = CreateControlChannel(error);
		ASSERT_NE(pipe, kInvalidPipe) << error;
		std::vector<int> fds;
		for (unsigned i = 0; i < row.refused; ++i) {
			fds.push_back(Connect(name, kOtherUid));
			EXPECT_GE(fds.back(), 0) << "connection " << i + 1 << ": " << std::strerror(errno);
		}
		const int owner = Connect(name, geteuid());
		ASSERT_GE(owner, 0) << std::strerror(errno);
		ASSERT_EQ(send(owner, "status", 6, MSG_NOSIGNAL), 6);
		bool connected = false;
		PipeClient client;
		char buffer[512];
		for (unsigned poll = 0; poll < row.idle_polls; ++poll)
			EXPECT_EQ(PollControlChannel(pipe, connected, client, buffer).kind, ControlPoll::Idle) << "poll " << poll;
		const ControlPoll served = PollControlChannel(pipe, connected, client, buffer);
		EXPECT_EQ(served.kind, ControlPoll::Command);
		EXPECT_EQ(std::string(buffer, served.length), "status");
		ReplyAndRelease(pipe, connected, client, "OK");
		close(owner);
		for (const int fd : fds)
			if (fd >= 0)
				close(fd);
		DestroyControlChannel(pipe, connected, client);
	}
}

// While another process holds the name, each retry fails the same way: the
// failure is logged once, and creation once the name is free.
TEST(ControlChannelPosix, ANameHeldElsewhereIsLoggedOnceAcrossRetries)
{
	const std::string name = ControlChannelName().substr(1);
	const int holder = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	AbstractAddress address;
	ASSERT_TRUE(MakeAbstractAddress(name, address));
	ASSERT_EQ(bind(holder, address.get(), address.length), 0) << std::strerror(errno);
	ASSERT_EQ(listen(holder, 1), 0);
	test::FakeDriverLog log;
	AttachDriverLog(&log);
	DeviceProvider provider;
	ControlServer server;
	server.CreateControlPipe();
	for (int retry = 0; retry < 3; ++retry) {
		ASSERT_NE(server.pipe_retry_at_ms, 0) << "a taken name is tried again";
		server.pipe_retry_at_ms = 1; // due now
		server.PollControlPipe(provider.Targets());
	}
	close(holder);
	server.pipe_retry_at_ms = 1;
	server.PollControlPipe(provider.Targets());
	EXPECT_NE(server.pipe, kInvalidPipe);
	server.DestroyControlPipe();
	DetachDriverLog();
	EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Pipe: Failed to create named pipe (error 98)\n",
	                                                 "Pipe: Created @" + name + "\n", "Pipe: Destroyed\n"}));
}

} // namespace
} // namespace zelvan
