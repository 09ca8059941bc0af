#include "template/state_files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/cgi_runner.hpp"

namespace veltrano {
namespace {

// RATELIMIT's state and DFILE name one file, whichever way it is written:
// the check sees through aliases, "." and links, and knows the state's lock
// and temporary files. "{dir}" stands for the site directory.
TEST(CheckStateFilesTest, StateFileMayNotBeTheDataFile) {
  const struct {
    const char* name;
    std::string state;
    std::optional<std::string> data;  // none: no DFILE
    bool oneFile;
  } cases[] = {
      {"different_files", "{dir}/rate", "{dir}/data", false},
      {"no_data_file", "{dir}/rate", std::nullopt, false},
      {"same_name", "{dir}/new", "{dir}/new", true},
      {"relative_data_file", "{dir}/rate", "rate", true},
      {"dot_component", "{dir}/rate", "{dir}/./rate", true},
      {"through_an_alias", "{dir}/sub/rate", "files/rate", true},
      {"through_a_linked_directory", "{dir}/sub/new", "{dir}/link/new", true},
      {"hard_link", "{dir}/rate", "{dir}/hard", true},
      {"lock_file", "{dir}/rate", "{dir}/rate.lock", true},
      {"temporary_file", "{dir}/rate", "{dir}/rate.tmp", true},
      {"other_name_in_a_linked_directory", "{dir}/sub/rate", "{dir}/link/data", false},
  };
  testing::TempDir dir;
  dir.Write("rate", "");
  dir.Write("data", "");
  dir.Write("sub/rate", "");
  dir.Write("veltrano.cfg", "files=" + dir.path() + "/sub\n");
  ASSERT_EQ(::link((dir.path() + "/rate").c_str(), (dir.path() + "/hard").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (dir.path() + "/link").c_str()), 0);
  auto inDir = [&](std::string text) {
    if (text.starts_with("{dir}")) text.replace(0, 5, dir.path());
    return text;
  };
  const std::string before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const auto& c : cases) {
    Template t;
    t.path = "t.tpl";
    t.abuse.rateLimit = RateLimit{inDir(c.state), 1, 60};
    if (c.data) t.dataFile = DataFileSections{inDir(*c.data), DataFileMode::kAppend, "x"};
    Status checked = CheckStateFiles(t, PathAliases(dir.path()));
    EXPECT_EQ(checked ? std::nullopt : std::optional(checked.failure().kind),
              c.oneFile ? std::optional(FailureKind::kStateFileIsDataFile) : std::nullopt)
        << c.name;
  }
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace veltrano
