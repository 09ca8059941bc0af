#include "platform/record_file.hpp"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

TEST(StoreRecordTest, AppendsAndTruncatesInTextMode) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/data.csv";
  const struct {
    RecordMode mode;
    std::string record;
    std::string want;
  } steps[] = {
      {RecordMode::kAppend, "a,b\n", "a,b\r\n"},
      {RecordMode::kAppend, "c\nd\n", "a,b\r\nc\r\nd\r\n"},
      {RecordMode::kTruncate, "e\n", "e\r\n"},
      {RecordMode::kAppend, "f\n", "e\r\nf\r\n"},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(StoreRecord(path, s.mode, s.record), std::nullopt);
    EXPECT_EQ(dir.Read("data.csv"), s.want);
  }
}

TEST(StoreRecordTest, UnusablePathsSayWhy) {
  testing::TempDir dir;
  dir.Write("sub/f", "");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {{dir.path() + "/missing/data", "No such file or directory"},
               {dir.path() + "/sub", "Is a directory"},
               {dir.path() + "/fifo", "not a regular file"},
               {"", "No such file or directory"}};
  for (const auto& c : cases) {
    EXPECT_EQ(StoreRecord(c.path, RecordMode::kAppend, "x\n"), c.reason) << c.path;
  }
}

// Records of requests writing at the same time stay whole and all arrive.
TEST(StoreRecordTest, ConcurrentWritersNeverInterleave) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/data";
  constexpr int kWriters = 8, kRecords = 50;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::string record(2000, static_cast<char>('a' + w));
      record += '\n';
      for (int r = 0; r < kRecords; ++r) StoreRecord(path, RecordMode::kAppend, record);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
  std::string text = dir.Read("data");
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++lines) {
    std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    std::string_view line(text.data() + at, end - at);
    ASSERT_EQ(line, std::string(2000, line.front()));
    at = end + 2;
  }
  EXPECT_EQ(lines, std::size_t{kWriters * kRecords});
}

// A record after a fragment a crash left starts on a line of its own.
TEST(StoreRecordTest, RecordAfterAFragmentStartsItsOwnLine) {
  for (const auto& [before, after] : {std::pair<std::string, std::string>{"a\r\n", "a\r\nb\r\n"},
                                      {"a\r\nfrag", "a\r\nfrag\r\nb\r\n"}}) {
    testing::TempDir dir;
    dir.Write("data", before);
    EXPECT_EQ(StoreRecord(dir.path() + "/data", RecordMode::kAppend, "b\n"), std::nullopt);
    EXPECT_EQ(dir.Read("data"), after);
  }
}

// A full file system: the records that fit are stored whole, each that
// doesn't is reported and cut away again, and a smaller one that fits
// afterwards stands on its own line. The file system is a tmpfs of 16 KiB
// mounted on the test's own directory, which needs root: without it the
// test is skipped, except under CI (CI set), which runs as root.
TEST(StoreRecordTest, FullFileSystemLeavesWholeRecords) {
  testing::TempDir dir;
  if (::mount("tmpfs", dir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              "size=16k,mode=0700") != 0) {
    if (std::getenv("CI") != nullptr) FAIL() << "no tmpfs: " << std::strerror(errno);
    GTEST_SKIP() << "no tmpfs (needs root): " << std::strerror(errno);
  }
  const std::string path = dir.path() + "/data";
  std::string want;
  int refused = 0;
  for (int i = 0; i < 8; ++i) {
    std::optional<std::string> error =
        StoreRecord(path, RecordMode::kAppend, std::string(3000, 'x') + "\n");
    if (error) {
      EXPECT_EQ(*error, "No space left on device, nothing of it kept");
      ++refused;
    } else {
      want += std::string(3000, 'x') + "\r\n";
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(StoreRecord(path, RecordMode::kAppend, "short\n"), std::nullopt);
  EXPECT_EQ(dir.Read("data"), want + "short\r\n");
  ::umount2(dir.path().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace veltrano::platform
