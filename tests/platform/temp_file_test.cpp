#include "platform/temp_file.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

namespace fs = std::filesystem;

TEST(ChooseTempDirectoryTest, TakesFirstExistingDirectory) {
  testing::TempDir a, b;
  a.Write("file", "x");
  const std::string missing = a.path() + "/missing";
  const std::string file = a.path() + "/file";
  const struct {
    std::vector<std::optional<std::string>> candidates;
    std::string want;
  } cases[] = {
      {{a.path(), b.path()}, a.path()},
      {{std::nullopt, b.path(), a.path()}, b.path()},
      {{std::string(), missing, file, b.path()}, b.path()},
      {{missing, std::nullopt, std::nullopt}, "/tmp"},
      {{}, "/tmp"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseTempDirectory(c.candidates), c.want);
}

TEST(CreateTempTextFileTest, WritesTextModeFilePrivatelyAndRemovesIt) {
  testing::TempDir dir;
  std::string path;
  {
    std::unique_ptr<TempPath> file = CreateTempTextFile(dir.path(), "a\nb\r\n100%\n");
    ASSERT_TRUE(file);
    path = file->path();
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(dir.path()));
    EXPECT_EQ(fs::path(path).filename().string().rfind("kov", 0), 0u);
    EXPECT_EQ(dir.Read(fs::path(path).filename()), "a\r\nb\r\r\n100%\r\n");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_FALSE(PathExists(path)) << "removed with its owner";
}

TEST(CreateTempTextFileTest, TakesFirstFreeNumber) {
  testing::TempDir dir;
  dir.Write("kov1", "old");
  fs::create_symlink(dir.path() + "/nowhere", dir.path() + "/kov2");
  std::unique_ptr<TempPath> file = CreateTempTextFile(dir.path(), "new");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->path(), dir.path() + "/kov3");
  EXPECT_EQ(dir.Read("kov1"), "old");
  EXPECT_FALSE(fs::exists(dir.path() + "/nowhere")) << "a link is never written through";
}

// A directory of the process's own: private, and gone with everything in it
// (a link inside is removed, not followed).
TEST(TempDirectoryTest, IsPrivateAndGoesWithItsContent) {
  testing::TempDir parent, outside;
  outside.Write("keep", "x");
  std::string path;
  {
    std::unique_ptr<TempDirectory> dir = TempDirectory::Create(parent.path());
    ASSERT_TRUE(dir);
    path = dir->path();
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(parent.path()));
    EXPECT_TRUE(fs::path(path).filename().string().starts_with("veltrano."));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    parent.Write(fs::path(path).filename().string() + "/sub/left", "by pgp");
    fs::create_directory_symlink(outside.path(), path + "/link");
  }
  EXPECT_FALSE(PathExists(path));
  EXPECT_EQ(outside.Read("keep"), "x");
  std::string error;
  EXPECT_FALSE(TempDirectory::Create(parent.path() + "/missing", &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(CreateTempTextFileTest, FailsInMissingDirectoryWithReason) {
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(CreateTempTextFile(dir.path() + "/missing", "x", &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

// Once given up, a path is never removed again: another process may have
// taken the name by then.
TEST(TempPathTest, RemoveGivesThePathUp) {
  testing::TempDir dir;
  {
    TempPath owned(dir.path() + "/kov1");
    dir.Write("kov1", "ours");
    owned.Remove();
    EXPECT_FALSE(dir.Exists("kov1"));
    dir.Write("kov1", "someone else's");
  }
  EXPECT_EQ(dir.Read("kov1"), "someone else's");
}

}  // namespace
}  // namespace veltrano::platform
