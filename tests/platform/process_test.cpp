#include "platform/process.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

using Ending = ChildOutcome::Ending;
using std::chrono::milliseconds;

// Short limits, so that a test of them takes a fraction of a second.
const ChildLimits kShort{milliseconds(300), milliseconds(200)};

TEST(RunQuietlyTest, ReportsHowTheChildEnded) {
  const struct {
    const char* name;
    std::vector<std::string> argv;
    Ending ending;
    int code;
  } cases[] = {
      {"success", {"true"}, Ending::kExited, 0},
      {"failure", {"false"}, Ending::kExited, 1},
      {"status", {"sh", "-c", "exit 7"}, Ending::kExited, 7},
      {"signal", {"sh", "-c", "kill -TERM $$"}, Ending::kSignaled, SIGTERM},
      // Each argument arrives whole: spaces, quotes and $ are not parsed.
      {"arguments_whole",
       {"sh", "-c", "[ $# -eq 2 ] && [ \"$1\" = 'a b' ] && [ \"$2\" = '\"$x;' ]", "sh", "a b",
        "\"$x;"},
       Ending::kExited,
       0},
      {"stdin_is_empty", {"sh", "-c", "read line && exit 3; exit 4"}, Ending::kExited, 4},
      {"not_found", {"/nonexistent/veltrano-no-such-program"}, Ending::kNotStarted, ENOENT},
      {"empty", {}, Ending::kNotStarted, EINVAL},
  };
  for (const auto& c : cases) {
    ChildOutcome outcome = RunQuietly(c.argv);
    EXPECT_EQ(outcome.ending, c.ending) << c.name;
    EXPECT_EQ(outcome.code, c.code) << c.name;
  }
}

TEST(RunShellCommandTest, RunsThroughShellWithValuesInItsEnvironment) {
  testing::TempDir dir;
  ::setenv("VELTRANO_VALUE_2", "from the program", 1);
  ChildOutcome outcome = RunShellCommand(
      "cd '" + dir.path() + "' && printf '%s|%s|%s' \"$VELTRANO_VALUE_1\" \"$VELTRANO_VALUE_2\" " +
          "\"$VELTRANO_TEST_KEPT\" > f; exit 3",
      {{"VELTRANO_VALUE_1", "a 'b' \"c\"\n$(x)"}, {"VELTRANO_VALUE_2", "given"}});
  ::unsetenv("VELTRANO_VALUE_2");
  EXPECT_EQ(outcome.ending, Ending::kExited);
  EXPECT_EQ(outcome.code, 3);
  EXPECT_EQ(dir.Read("f"), "a 'b' \"c\"\n$(x)|given|");
  EXPECT_TRUE(RunShellCommand("", {}).Succeeded());
}

// An ignored signal would stay ignored across exec, and a pipeline such as
// `producer | head -1` might then never end.
TEST(RunShellCommandTest, ChildrenGetDefaultSignalActions) {
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &before);
  ChildOutcome quiet = RunQuietly({"sh", "-c", "kill -PIPE $$; exit 0"});
  ChildOutcome shell = RunShellCommand("kill -PIPE $$; exit 0", {});
  ::sigaction(SIGPIPE, &before, nullptr);
  EXPECT_EQ(quiet.ending, Ending::kSignaled);
  EXPECT_EQ(quiet.code, SIGPIPE);
  EXPECT_EQ(shell.ending, Ending::kSignaled);
  EXPECT_EQ(shell.code, SIGPIPE);
}

bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  return !(stat >> skip >> skip >> state) || state == "Z";
}

// A child that outlives its limit is stopped with its whole process group:
// politely, and by force when it ignores that.
TEST(ChildLimitsTest, ChildAndItsGroupAreStoppedAtTheLimit) {
  const struct {
    const char* name;
    std::string background;  // the grandchild
    std::string script;
  } cases[] = {
      {"sleeps", "sleep 30", "sleep 30"},
      {"ignores_sigterm", "sleep 30", "trap '' TERM; sleep 30; sleep 30"},
      // The child ends at SIGTERM, what it started does not.
      {"leader_ends_first", "(trap '' TERM; sleep 30)", "sleep 30"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    const std::string script =
        c.background + " & echo $! > '" + dir.path() + "/grandchild'; " + c.script;
    auto start = std::chrono::steady_clock::now();
    ChildOutcome shell = RunShellCommand(script, {}, kShort);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.name;
    EXPECT_EQ(shell.ending, Ending::kTimedOut) << c.name;
    EXPECT_FALSE(shell.Succeeded());
    EXPECT_EQ(shell.Describe(ChildLimits{}), "stopped after 60 s");
    EXPECT_EQ(shell.Describe(kShort), "stopped after 300 ms");
    pid_t grandchild = std::stoi(dir.Read("grandchild"));
    for (int i = 0; i < 100 && !ProcessGone(grandchild); ++i) ::usleep(10000);
    EXPECT_TRUE(ProcessGone(grandchild)) << c.name;
  }
  EXPECT_EQ(RunQuietly({"sleep", "30"}, kShort).ending, Ending::kTimedOut);
}

// Once the request's budget is spent, no child is started.
TEST(ChildLimitsTest, NothingStartsOnceTheBudgetIsSpent) {
  testing::TempDir dir;
  ChildLimits spent = kShort;
  spent.budget = Deadline(milliseconds(0));
  ChildOutcome outcome = RunShellCommand("touch '" + dir.path() + "/ran'", {}, spent);
  EXPECT_EQ(outcome.ending, Ending::kTimedOut);
  EXPECT_EQ(outcome.Describe(spent), "not done within the request's time budget of 0 ms");
  EXPECT_FALSE(dir.Exists("ran"));
}

TEST(ChildOutcomeTest, DescribesEachEnding) {
  EXPECT_EQ(RunQuietly({"sh", "-c", "exit 2"}).Describe({}), "exit status 2");
  EXPECT_EQ(RunQuietly({"sh", "-c", "kill -KILL $$"}).Describe({}), "killed by signal 9");
  EXPECT_EQ(RunQuietly({"/nonexistent/veltrano-no-such-program"}).Describe({}),
            "could not be started: No such file or directory");
}

}  // namespace
}  // namespace veltrano::platform
