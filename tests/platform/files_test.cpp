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
// and a FIFO without a writer must not make the request wait.
TEST(ReadTextFileTest, AnythingButARegularFileIsNone) {
  testing::TempDir dir;
  dir.Write("sub/x", "");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  for (const char* name : {"missing", "sub", "fifo"}) {
    EXPECT_EQ(ReadTextFile(dir.path() + "/" + name), std::nullopt) << name;
  }
}

}  // namespace
}  // namespace veltrano::platform
