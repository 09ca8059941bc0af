#include "platform/net.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace veltrano::platform {
namespace {

TEST(ResolveIpv4Test, ParsesDottedAddressesBeforeLookingUpNames) {
  const struct {
    const char* name;
    std::string server;
    std::uint32_t want;  // host byte order
  } cases[] = {{"dotted", "127.0.0.7", 0x7F000007},
               {"short_form", "127.1", 0x7F000001},
               {"trailing_line_end", "127.0.0.1\n", 0x7F000001},
               {"all_bits", "255.255.255.255", 0xFFFFFFFF},
               {"name", "localhost", 0x7F000001},
               {"empty", "", 0},
               {"nul_inside", std::string("127.0.0.1\0x", 11), 0}};
  for (const auto& c : cases) EXPECT_EQ(ntohl(ResolveIpv4(c.server)), c.want) << c.name;
}

TEST(TcpSocketTest, ConnectToAddressZeroFailsWithReason) {
  TcpSocket socket;
  EXPECT_FALSE(socket.Connect(0, 25, Deadline(std::chrono::seconds(1))));
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_NE(socket.error(), "");
  std::string out;
  EXPECT_EQ(socket.Receive(out, 10, Deadline(std::chrono::milliseconds(1))),
            ReceiveStatus::kFailed);
  EXPECT_FALSE(socket.SendAll("x", Deadline(std::chrono::milliseconds(1))));
}

}  // namespace
}  // namespace veltrano::platform
