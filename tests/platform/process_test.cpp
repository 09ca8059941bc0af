#include "platform/process.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

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

// The program ignores SIGPIPE for itself; its children must not inherit
// that, or a pipeline such as `producer | head -1` may never end.
TEST(ChildSignalsTest, ChildrenGetDefaultBrokenPipeAction) {
  void (*before)(int) = std::signal(SIGPIPE, SIG_DFL);
  IgnoreBrokenPipe();
  std::optional<int> quiet = RunQuietly({"sh", "-c", "kill -PIPE $$; exit 0"});
  int shell = RunShellCommand("kill -PIPE $$; exit 0");
  void (*during)(int) = std::signal(SIGPIPE, before);
  EXPECT_EQ(quiet, 128 + SIGPIPE);
  EXPECT_TRUE(WIFSIGNALED(shell) && WTERMSIG(shell) == SIGPIPE) << "status " << shell;
  EXPECT_EQ(during, SIG_IGN) << "the program's own setting is kept";
}

}  // namespace
}  // namespace veltrano::platform
