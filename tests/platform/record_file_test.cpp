#include "platform/record_file.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fd.hpp"
#include "support/cgi_runner.hpp"
#include "support/small_file_system.hpp"

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

// A record that can't be written whole is cut away, and the next record
// starts on a line of its own, also after a fragment a crash left.
TEST(StoreRecordTest, RecordIsWholeOrAbsent) {
  const struct {
    const char* name;
    std::string before;
    rlim_t sizeLimit;  // RLIM_INFINITY: none
    std::optional<std::string> error;
    std::string after;
  } cases[] = {
      {"stored", "a\r\n", RLIM_INFINITY, std::nullopt, "a\r\n0123456789\r\n"},
      {"fragment_ends_its_line", "a\r\nfrag", RLIM_INFINITY, std::nullopt,
       "a\r\nfrag\r\n0123456789\r\n"},
      {"cut_back_past_the_size_limit", "a\r\n", 8, "File too large, nothing of it kept", "a\r\n"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    dir.Write("data", c.before);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{c.sizeLimit, c.sizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      std::string error =
          StoreRecord(dir.path() + "/data", RecordMode::kAppend, "0123456789\n").value_or("(none)");
      ::_exit(WriteAll(fds[1], error) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string error;
    char buf[256];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) error.append(buf, n);
    ::close(fds[0]);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(error, c.error.value_or("(none)")) << c.name;
    EXPECT_EQ(dir.Read("data"), c.after) << c.name;
  }
}

// A full file system: the records that fit are stored whole, each that
// doesn't is reported and leaves nothing, and a smaller one that fits
// afterwards stands on its own line.
TEST(StoreRecordTest, FullFileSystemLeavesWholeRecords) {
  testing::SmallFileSystem fs(16 * 1024);
  SKIP_WITHOUT_SMALL_FILE_SYSTEM(fs);
  const std::string path = fs.path() + "/data";
  const std::string record = std::string(3000, 'x') + "\n";
  std::string want;
  int refused = 0;
  for (int i = 0; i < 8; ++i) {
    std::optional<std::string> error = StoreRecord(path, RecordMode::kAppend, record);
    if (error) {
      EXPECT_EQ(*error, "No space left on device, nothing of it kept");
      ++refused;
    } else {
      want += std::string(3000, 'x') + "\r\n";
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(StoreRecord(path, RecordMode::kAppend, "short\n"), std::nullopt);
  EXPECT_EQ(fs.Read("data"), want + "short\r\n");
}

}  // namespace
}  // namespace veltrano::platform
