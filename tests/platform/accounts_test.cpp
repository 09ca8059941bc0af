#include "platform/accounts.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <string>

extern char** environ;

namespace veltrano::platform {
namespace {

using Ending = ChildOutcome::Ending;

const ChildLimits kShort{std::chrono::milliseconds(300), std::chrono::milliseconds(200)};
const ChildSetup kPath{.environment = {"PATH=/usr/bin:/bin"}};

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
             {}, [](int fd) { return ::write(fd, "done\n", 5) == 5 ? 3 : 1; }, kShort);
       },
       Ending::kExited, 3, "done\n"},
      {"work_that_throws",
       [] {
         return RunAs(
             {}, [](int) -> int { throw std::bad_alloc(); }, kShort);
       },
       Ending::kExited, 125, ""},
      {"only_its_environment",
       [] {
         return RunProgramAs({.environment = {"PATH=/usr/bin:/bin", "HOME=/h"}},
                             {"sh", "-c", "echo \"$HOME|$USER\" >&2; echo out"}, kShort);
       },
       Ending::kExited, 0, "/h|\n"},
      {"not_found", [] { return RunProgramAs(kPath, {"veltrano-no-such-program"}, kShort); },
       Ending::kExited, 127, "cannot run veltrano-no-such-program: No such file or directory\n"},
      {"outlives_its_limit",
       [] {
         return RunProgramAs(kPath, {"sh", "-c", "echo started >&2; exec sleep 30"}, kShort);
       },
       Ending::kTimedOut, 0, "started\n"},
      {"over_its_cpu_time",
       [] {
         ChildSetup limited = kPath;
         limited.resources = ResourceLimits{std::chrono::seconds(1)};
         return RunAs(
             limited,
             [](int) {
               volatile unsigned long spins = 0;
               for (;;) {
                 spins = spins + 1;
               }
               return 0;
             },
             ChildLimits{std::chrono::seconds(20)});
       },
       Ending::kSignaled, SIGXCPU, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChildReport report = c.run();
    EXPECT_EQ(report.outcome.ending, c.ending);
    EXPECT_EQ(report.outcome.code, c.code);
    EXPECT_EQ(report.output, c.output);
  }
  ChildSetup small = kPath;
  small.maxOutput = 1000;
  for (const auto& [setup, size] : {std::pair{kPath, kMaxChildOutput}, std::pair{small, 1000ul}}) {
    ChildReport flood =
        RunProgramAs(setup, {"sh", "-c", "head -c 200000 /dev/zero >&2"}, ChildLimits{});
    EXPECT_TRUE(flood.outcome.Succeeded());
    EXPECT_EQ(flood.output.size(), size);
    EXPECT_TRUE(flood.outputCut);
  }
}

// The child has a session of its own (so no controlling terminal), nothing
// of its parent's but its pipe, /dev/null for its standard descriptors,
// exactly the environment given, and the limits given.
TEST(RunAsTest, ChildIsConfined) {
  const int inherited = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC: fork keeps it
  ASSERT_GE(inherited, 0);
  ChildSetup setup{.environment = {"PATH=/bin", "HOME=/nowhere"}, .resources = ResourceLimits{}};
  ChildReport report = RunAs(
      setup,
      [](int fd) {
        std::string seen;
        seen += ::getsid(0) == ::getpid() ? "own session\n" : "caller's session\n";
        seen += ::open("/dev/tty", O_RDWR) < 0 ? "no terminal\n" : "a terminal\n";
        struct stat null {
        }, st{};
        ::stat("/dev/null", &null);
        for (int i = 0; i < 1024; ++i) {
          if (::fcntl(i, F_GETFD) < 0) continue;
          const bool isNull = ::fstat(i, &st) == 0 && st.st_rdev == null.st_rdev;
          seen += i == fd ? "pipe " : isNull ? std::to_string(i) + ":null " : "other ";
        }
        seen += "\n";
        for (char** e = environ; *e != nullptr; ++e) seen += std::string(*e) + " ";
        rlimit core{}, cpu{}, as{};
        ::getrlimit(RLIMIT_CORE, &core);
        ::getrlimit(RLIMIT_CPU, &cpu);
        ::getrlimit(RLIMIT_AS, &as);
        seen += "\ncore " + std::to_string(core.rlim_max) + " cpu " + std::to_string(cpu.rlim_cur);
#if !defined(__SANITIZE_ADDRESS__)
        seen += " as " + std::to_string(as.rlim_max >> 20) + " MiB";
#endif
        return ::write(fd, seen.data(), seen.size()) > 0 ? 0 : 1;
      },
      kShort);
  ::close(inherited);
  std::string want =
      "own session\nno terminal\n0:null 1:null 2:null pipe \nPATH=/bin HOME=/nowhere \n"
      "core 0 cpu 60";
#if !defined(__SANITIZE_ADDRESS__)
  want += " as 1024 MiB";
#endif
  EXPECT_TRUE(report.outcome.Succeeded()) << report.outcome.Describe(kShort);
  EXPECT_EQ(report.output, want);
}

// Root's child becomes the account for good, its groups included; anyone
// else's child does no work.
TEST(RunAsTest, ChildBecomesTheAccount) {
  std::optional<Account> nobody = FindAccount("nobody");
  ASSERT_TRUE(nobody);
  ChildSetup asNobody = kPath;
  asNobody.identity = nobody;
  ChildReport report =
      RunProgramAs(asNobody, {"sh", "-c", "id -u >&2; id -G >&2; id -ru >&2; id -rg >&2"}, kShort);
  if (::geteuid() == 0) {
    EXPECT_TRUE(report.outcome.Succeeded());
    const std::string uid = std::to_string(nobody->uid), gid = std::to_string(nobody->gid);
    EXPECT_EQ(report.output, uid + "\n" + gid + "\n" + uid + "\n" + gid + "\n");
  } else {
    EXPECT_EQ(report.outcome.ending, Ending::kNotStarted);
    EXPECT_EQ(report.outcome.error.rfind("cannot become nobody: ", 0), 0u) << report.outcome.error;
    EXPECT_EQ(report.output, "");
  }
}

}  // namespace
}  // namespace veltrano::platform
