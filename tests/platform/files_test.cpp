#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

TEST(ReadTextFileTest, ReadsRegularFilesInTextModeOnly) {
  testing::TempDir dir;
  dir.Write("page", "a\r\nb\rc\r\n\x1atail");
  dir.Write("sub/f", "");
  struct {
    const char* name;
    std::string path;
    std::optional<std::string> want;
  } cases[] = {
      {"text_mode", dir.path() + "/page", "a\nb\rc\n"},
      {"missing", dir.path() + "/missing", std::nullopt},
      {"directory", dir.path() + "/sub", std::nullopt},
      {"empty_name", "", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadTextFile(c.path), c.want) << c.name;
}

// A FIFO under a file name must not keep the request waiting for a writer.
TEST(ReadTextFileTest, FifoIsRefusedWithoutWaiting) {
  testing::TempDir dir;
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) ::_exit(ReadTextFile(fifo) ? 1 : 0);
  int status = -1;
  for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!WIFEXITED(status)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    FAIL() << "ReadTextFile waited on the FIFO";
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace veltrano::platform
