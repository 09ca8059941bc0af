#include "platform/accounts.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace veltrano::platform {
namespace {

using Ending = ChildOutcome::Ending;

const ChildLimits kShort{std::chrono::milliseconds(300), std::chrono::milliseconds(200)};
const std::vector<std::string> kPath = {"PATH=/usr/bin:/bin"};

TEST(AccountsTest, FindsAccountsByName) {
  std::optional<Account> root = FindAccount("root");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->uid, 0u);
  EXPECT_EQ(root->home, "/root");
  EXPECT_FALSE(FindAccount("veltrano-no-such-user"));
  EXPECT_FALSE(FindAccount(""));
  ASSERT_TRUE(CurrentAccount());
  EXPECT_EQ(CurrentAccount()->uid, static_cast<unsigned>(::geteuid()));
}

TEST(RunAsTest, GivesBackOutputAndEnding) {
  const struct {
    const char* name;
    std::function<ChildReport()> run;
    Ending ending;
    int code;
    std::string output;
  } cases[] = {
      {"work",
       [] {
         return RunAs(
             std::nullopt, [](int fd) { return ::write(fd, "done\n", 5) == 5 ? 3 : 1; }, kShort);
       },
       Ending::kExited, 3, "done\n"},
      {"only_its_environment",
       [] {
         return RunProgramAs(std::nullopt, {"sh", "-c", "echo \"$HOME|$USER\" >&2; echo out"},
                             {"PATH=/usr/bin:/bin", "HOME=/h"}, kShort);
       },
       Ending::kExited, 0, "/h|\n"},
      {"not_found",
       [] { return RunProgramAs(std::nullopt, {"veltrano-no-such-program"}, kPath, kShort); },
       Ending::kExited, 127, "cannot run veltrano-no-such-program: No such file or directory\n"},
      {"outlives_its_limit",
       [] {
         return RunProgramAs(std::nullopt, {"sh", "-c", "echo started >&2; exec sleep 30"}, kPath,
                             kShort);
       },
       Ending::kTimedOut, 0, "started\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChildReport report = c.run();
    EXPECT_EQ(report.outcome.ending, c.ending);
    EXPECT_EQ(report.outcome.code, c.code);
    EXPECT_EQ(report.output, c.output);
  }
  ChildReport flood = RunProgramAs(std::nullopt, {"sh", "-c", "head -c 200000 /dev/zero >&2"},
                                   kPath, ChildLimits{});
  EXPECT_TRUE(flood.outcome.Succeeded());
  EXPECT_EQ(flood.output.size(), kMaxChildOutput);
}

// Root's child becomes the account, its groups included; anyone else's
// child does no work.
TEST(RunAsTest, ChildBecomesTheAccount) {
  std::optional<Account> nobody = FindAccount("nobody");
  ASSERT_TRUE(nobody);
  ChildReport report = RunProgramAs(nobody, {"sh", "-c", "id -u >&2; id -G >&2"}, kPath, kShort);
  if (::geteuid() == 0) {
    EXPECT_TRUE(report.outcome.Succeeded());
    EXPECT_EQ(report.output,
              std::to_string(nobody->uid) + "\n" + std::to_string(nobody->gid) + "\n");
  } else {
    EXPECT_EQ(report.outcome.ending, Ending::kNotStarted);
    EXPECT_EQ(report.outcome.error.rfind("cannot become nobody: ", 0), 0u) << report.outcome.error;
    EXPECT_EQ(report.output, "");
  }
}

}  // namespace
}  // namespace veltrano::platform
