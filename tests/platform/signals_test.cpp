#include "platform/signals.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/process.hpp"
#include "platform/temp_file.hpp"
#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string skip, state;
  return !(stat >> skip >> skip >> state) || state == "Z";
}

// Runs `body` in a forked copy of the test with the handlers installed. The
// body (or a child of it) writes a byte to the file descriptor it is given
// when it wants `signal`; returns the copy's wait status.
int InChild(const std::function<void(int readyFd)>& body, int signal) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    InstallTerminationCleanup();
    body(fds[1]);
    ::_exit(0);
  }
  ::close(fds[1]);
  char c;
  if (::read(fds[0], &c, 1) == 1 && signal != 0) ::kill(pid, signal);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// The web server's SIGTERM (or a person's SIGINT or SIGHUP) while pgp runs:
// the plain text, the armour and their directory go, the child being waited
// for is ended too, and the program ends by that signal.
TEST(TerminationCleanupTest, RemovesTemporaryFilesAndEndsTheChild) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    testing::TempDir dir;
    int status = InChild(
        [&](int ready) {
          std::unique_ptr<TempDirectory> own = TempDirectory::Create(dir.path());
          std::unique_ptr<TempPath> plain = CreateTempTextFile(own->path(), "secret");
          TempPath armour(plain->path() + ".asc");
          dir.Write(plain->path().substr(dir.path().size() + 1) + ".asc", "armour");
          RunShellCommand("echo $$ > '" + dir.path() + "/shell'; printf r >&" +
                              std::to_string(ready) + "; sleep 30",
                          {});
        },
        signal);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal;
    pid_t shell = std::stoi(dir.Read("shell"));
    for (int i = 0; i < 200 && !ProcessGone(shell); ++i) ::usleep(10000);
    EXPECT_TRUE(ProcessGone(shell)) << "signal " << signal;
    if (!ProcessGone(shell)) ::kill(shell, SIGKILL);
    dir.Write("shell", "");
    std::size_t left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      left += entry.path().filename() != "shell";
    }
    EXPECT_EQ(left, 0u) << "signal " << signal;
  }
}

// Told to stop while a command that ignores SIGTERM runs: its group is
// killed after the grace, before the program ends, so nothing of it runs on.
TEST(TerminationCleanupTest, ChildGroupEndsBeforeTheProgram) {
  testing::TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  int status = InChild(
      [&](int ready) {
        RunShellCommand("trap '' TERM; echo $$ > '" + dir.path() + "/shell'; printf r >&" +
                            std::to_string(ready) + "; sleep 30; touch '" + dir.path() + "/ran'",
                        {}, ChildLimits{std::chrono::seconds(60), std::chrono::milliseconds(300)});
      },
      SIGTERM);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  pid_t shell = std::stoi(dir.Read("shell"));
  EXPECT_TRUE(ProcessGone(shell));
  if (!ProcessGone(shell)) ::kill(shell, SIGKILL);
  EXPECT_FALSE(dir.Exists("ran"));
}

// An ignored SIGCHLD inherited from whoever started the program would lose
// every child's status: a failing command would read as a success.
TEST(TerminationCleanupTest, InheritedIgnoredChildSignalIsReset) {
  int status = InChild(
      [](int) {
        ::signal(SIGCHLD, SIG_IGN);
        InstallTerminationCleanup();
        ChildOutcome outcome = RunShellCommand("exit 3", {});
        ::_exit(outcome.ending == ChildOutcome::Ending::kExited && outcome.code == 3 ? 0 : 1);
      },
      0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A write to a web server that stopped reading just fails, and SIGPIPE from
// anywhere is ignored: the request goes on, so its mails and records are not
// lost.
TEST(TerminationCleanupTest, BrokenPipeIsNotTermination) {
  int status = InChild(
      [](int) {
        ::kill(::getpid(), SIGPIPE);
        int fds[2];
        if (::pipe(fds) != 0) ::_exit(2);
        ::close(fds[0]);
        bool failed = ::write(fds[1], "x", 1) < 0 && errno == EPIPE;
        ::_exit(failed ? 0 : 1);
      },
      0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace veltrano::platform
