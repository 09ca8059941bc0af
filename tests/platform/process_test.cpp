#include "platform/process.hpp"

#include <gtest/gtest.h>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

struct RunCase {
  const char* name;
  std::vector<std::string> argv;
  std::optional<int> want;
};

class RunQuietlyTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunQuietlyTest, ReportsExitStatusOrNotStarted) {
  EXPECT_EQ(RunQuietly(GetParam().argv), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, RunQuietlyTest,
    ::testing::Values(RunCase{"success", {"true"}, 0}, RunCase{"failure", {"false"}, 1},
                      RunCase{"status", {"sh", "-c", "exit 7"}, 7},
                      RunCase{"signal", {"sh", "-c", "kill -TERM $$"}, 128 + 15},
                      // Each argument arrives whole: spaces, quotes and $ are not parsed.
                      RunCase{
                          "arguments_whole",
                          {"sh", "-c", "[ $# -eq 2 ] && [ \"$1\" = 'a b' ] && [ \"$2\" = '\"$x;' ]",
                           "sh", "a b", "\"$x;"},
                          0},
                      RunCase{"stdin_is_empty", {"sh", "-c", "read line && exit 3; exit 4"}, 4},
                      RunCase{"not_found", {"veltrano-no-such-program"}, std::nullopt},
                      RunCase{"empty", {}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunShellCommandTest, RunsThroughShellAndReturnsItsStatus) {
  testing::TempDir dir;
  EXPECT_EQ(RunShellCommand("cd '" + dir.path() + "' && echo hi > f; exit 3"), 3 << 8);
  EXPECT_EQ(dir.Read("f"), "hi\n");
  EXPECT_EQ(RunShellCommand(""), 0);
}

}  // namespace
}  // namespace veltrano::platform
