#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/transport.hpp"
#include "platform/fd.hpp"

namespace veltrano {
namespace {

using platform::Deadline;
using platform::ReceiveStatus;
using std::chrono::milliseconds;

// A socket bound to a port of 127.0.0.1 that the kernel chooses; listening
// or, refusing connections, not.
platform::UniqueFd Loopback(bool listening, std::uint16_t& port) {
  platform::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sin;
  EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&sin), len), 0);
  EXPECT_TRUE(!listening || ::listen(fd.get(), 1) == 0);
  ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&sin), &len);
  port = ntohs(sin.sin_port);
  return fd;
}

TEST(SocketTransportTest, TalksOverLoopback) {
  std::uint16_t port = 0;
  platform::UniqueFd listener = Loopback(true, port);
  SocketTransport transport({milliseconds(2000), milliseconds(2000)});
  ASSERT_TRUE(transport.Connect("127.0.0.1", port)) << transport.error();
  platform::UniqueFd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(server.valid());

  ASSERT_TRUE(transport.Send("HELO client\r\n", platform::Deadline::Never()));
  char buf[32] = {};
  EXPECT_EQ(::recv(server.get(), buf, 13, MSG_WAITALL), 13);
  EXPECT_STREQ(buf, "HELO client\r\n");
  // A send that must be done by a time already past sends nothing.
  EXPECT_FALSE(transport.Send("late", Deadline(milliseconds(0))));

  const std::string reply = "250-one\r\n250 two\r\n";
  ASSERT_EQ(::send(server.get(), reply.data(), reply.size(), 0), ssize_t(reply.size()));
  // A receive appends at most what was asked for.
  std::string got = ">";
  while (got.size() < 1 + reply.size()) {
    const std::size_t before = got.size();
    ASSERT_EQ(transport.Receive(got, 4, Deadline(milliseconds(2000))), ReceiveStatus::kData);
    EXPECT_LE(got.size() - before, 4u);
  }
  EXPECT_EQ(got, ">" + reply);

  // Nothing comes: the wait ends at the deadline.
  EXPECT_EQ(transport.Receive(got, 10, Deadline(milliseconds(50))), ReceiveStatus::kTimedOut);
  server.Reset();
  EXPECT_EQ(transport.Receive(got, 10, Deadline(milliseconds(2000))), ReceiveStatus::kClosed);
  EXPECT_EQ(got, ">" + reply);
}

TEST(SocketTransportTest, ConnectionCanFail) {
  std::uint16_t refusing = 0;
  platform::UniqueFd bound = Loopback(false, refusing);
  for (const auto& [host, port] :
       {std::pair<std::string, std::uint16_t>{"127.0.0.1", refusing}, {"", 25}}) {
    SocketTransport transport({milliseconds(2000), milliseconds(2000)});
    EXPECT_FALSE(transport.Connect(host, port)) << host;
    EXPECT_NE(transport.error(), "") << host;
    EXPECT_FALSE(transport.Send("x", platform::Deadline::Never())) << host;
  }
}

// Once the request's budget is spent, no connection is tried.
TEST(SocketTransportTest, NoConnectionOnceTheBudgetIsSpent) {
  std::uint16_t port = 0;
  platform::UniqueFd listener = Loopback(true, port);
  SocketTransport transport({milliseconds(2000), milliseconds(2000), Deadline(milliseconds(0))});
  EXPECT_FALSE(transport.Connect("127.0.0.1", port));
  EXPECT_EQ(transport.error(), "no connection within the request's time budget of 0 ms");
  pollfd p{listener.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 100), 0) << "a connection was tried";
}

}  // namespace
}  // namespace veltrano
