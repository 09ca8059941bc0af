#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

TEST(ReadTextFileTest, RegularFileInTextMode) {
  testing::TempDir dir;
  dir.Write("t.txt",
            "a\r\nb\rc\x1a"
            "after");
  EXPECT_EQ(ReadTextFile(dir.path() + "/t.txt"), "a\nb\rc");
}

// Only a regular file is a text file; anything else is "can't be opened",
// with the reason for the log, and a FIFO without a writer must not make the
// request wait.
TEST(ReadTextFileTest, AnythingButARegularFileIsNoneWithItsReason) {
  testing::TempDir dir;
  dir.Write("sub/x", "");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {{"missing", "No such file or directory"},
               {"sub", "not a regular file"},
               {"fifo", "not a regular file"}};
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ReadTextFile(dir.path() + "/" + c.name, &error), std::nullopt) << c.name;
    EXPECT_EQ(error, c.reason) << c.name;
  }
}

// The limit counts the text as read: a CR LF pair is one byte of it, and
// nothing after a 0x1A byte counts.
TEST(ReadTextFileTest, TextOverTheLimitIsTooLarge) {
  testing::TempDir dir;
  const struct {
    const char* name;
    std::string bytes;
    std::optional<std::string> want;
  } cases[] = {
      {"at_limit", "abcd", "abcd"},
      {"over", "abcde", std::nullopt},
      {"line_ends_count_once", "ab\r\nc", "ab\nc"},
      {"end_of_text", "abcd\x1a" + std::string(100, 'x'), "abcd"},
  };
  for (const auto& c : cases) {
    dir.Write(c.name, c.bytes);
    std::string error;
    EXPECT_EQ(ReadTextFile(dir.path() + "/" + c.name, &error, 4), c.want) << c.name;
    EXPECT_EQ(error, c.want ? "" : "too large, over 4 bytes") << c.name;
  }
}

TEST(ListDirectoryTest, NamesUpToTheLimit) {
  testing::TempDir dir;
  for (const char* name : {"a", "b", "c"}) dir.Write(name, "");
  std::optional<std::vector<std::string>> all = ListDirectory(dir.path(), 10);
  ASSERT_TRUE(all);
  std::sort(all->begin(), all->end());
  EXPECT_EQ(*all, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(ListDirectory(dir.path(), 2)->size(), 2u);
  EXPECT_FALSE(ListDirectory(dir.path() + "/a", 10));
}

}  // namespace
}  // namespace veltrano::platform
