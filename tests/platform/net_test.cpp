#include "platform/net.hpp"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace veltrano::platform {
namespace {

struct ResolveCase {
  const char* name;
  std::string server;
  std::uint32_t want;  // host byte order
};

class ServerAddressTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(ServerAddressTest, ParsesDottedAddressesBeforeLookingUpNames) {
  EXPECT_EQ(ntohl(ResolveIpv4(GetParam().server)), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ServerAddressTest,
    ::testing::Values(ResolveCase{"dotted", "127.0.0.7", 0x7F000007},
                      ResolveCase{"short_form", "127.1", 0x7F000001},
                      ResolveCase{"trailing_line_end", "127.0.0.1\n", 0x7F000001},
                      ResolveCase{"all_bits", "255.255.255.255", 0xFFFFFFFF},
                      ResolveCase{"name", "localhost", 0x7F000001}, ResolveCase{"empty", "", 0},
                      ResolveCase{"nul_inside", std::string("127.0.0.1\0x", 11), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TcpSocketTest, ConnectToAddressZeroFails) {
  TcpSocket socket;
  EXPECT_FALSE(socket.Connect(0, 25, SocketTimeouts{}));
  EXPECT_FALSE(socket.IsOpen());
  std::string out;
  EXPECT_EQ(socket.Receive(out, 10, std::chrono::milliseconds(1)), ReceiveStatus::kFailed);
  EXPECT_FALSE(socket.SendAll("x"));
}

}  // namespace
}  // namespace veltrano::platform
