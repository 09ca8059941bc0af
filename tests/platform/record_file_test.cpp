#include "platform/record_file.hpp"

#include <gtest/gtest.h>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

TEST(RecordFileTest, AppendsAndTruncatesInTextMode) {
  testing::TempDir dir;
  const std::string path = dir.path() + "/data.csv";
  struct {
    RecordFile::Mode mode;
    std::string record;
    std::string want;
  } steps[] = {
      {RecordFile::Mode::kAppend, "a,b\n", "a,b\r\n"},
      {RecordFile::Mode::kAppend, "c\nd\n", "a,b\r\nc\r\nd\r\n"},
      {RecordFile::Mode::kTruncate, "e\n", "e\r\n"},
      {RecordFile::Mode::kAppend, "f\n", "e\r\nf\r\n"},
  };
  for (const auto& s : steps) {
    std::optional<RecordFile> file = RecordFile::Open(path, s.mode);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Write(s.record));
    EXPECT_EQ(dir.Read("data.csv"), s.want);
  }
}

TEST(RecordFileTest, TruncateEmptiesAtOpen) {
  testing::TempDir dir;
  dir.Write("data", "old\r\n");
  std::optional<RecordFile> file =
      RecordFile::Open(dir.path() + "/data", RecordFile::Mode::kTruncate);
  ASSERT_TRUE(file);
  EXPECT_EQ(dir.Read("data"), "");
}

TEST(RecordFileTest, UnopenablePathsGiveNone) {
  testing::TempDir dir;
  dir.Write("sub/f", "");
  for (const std::string& path :
       {dir.path() + "/missing/data", dir.path() + "/sub", std::string()}) {
    EXPECT_FALSE(RecordFile::Open(path, RecordFile::Mode::kAppend)) << path;
  }
}

}  // namespace
}  // namespace veltrano::platform
