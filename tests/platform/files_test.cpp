#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace veltrano::platform
