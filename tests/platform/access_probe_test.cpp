#include "platform/access_probe.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/cgi_runner.hpp"

namespace veltrano::platform {
namespace {

namespace fs = std::filesystem;

// Each probe does what its use would do, and a FIFO never makes it wait.
TEST(ProbeAccessTest, TriesEachUse) {
  testing::TempDir dir;
  dir.Write("file", "x");
  dir.Write("sub/script", "#!/bin/sh\n");
  fs::permissions(dir.path() + "/sub/script", fs::perms::owner_all);
  fs::create_symlink(dir.path() + "/file", dir.path() + "/link");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  const struct {
    AccessKind kind;
    const char* path;
    bool followLinks;
    bool allowed, exists;
    std::string reason;  // "{dir}" stands for the directory
  } cases[] = {
      {AccessKind::kRead, "file", true, true, true, ""},
      {AccessKind::kRead, "fifo", true, false, true, "not a regular file"},
      {AccessKind::kRead, "none", true, false, false, "No such file or directory"},
      {AccessKind::kWrite, "new", true, true, false, ""},
      {AccessKind::kWrite, "none/new", true, false, false, "{dir}/none: No such file or directory"},
      {AccessKind::kWrite, "link", true, true, true, ""},
      {AccessKind::kWrite, "link", false, false, true, "a symbolic link, which is not followed"},
      {AccessKind::kCreateIn, "sub", true, true, true, ""},
      {AccessKind::kCreateIn, "file", true, false, true, "not a directory"},
      {AccessKind::kExecute, "sub/script", true, true, true, ""},
      {AccessKind::kExecute, "file", true, false, true, "Permission denied"},
      {AccessKind::kExecute, "sub", true, false, true, "not a regular file"},
  };
  std::vector<AccessProbe> probes;
  for (const auto& c : cases) probes.push_back({c.kind, dir.path() + "/" + c.path, c.followLinks});
  std::vector<AccessOutcome> outcomes = ProbeAccess(probes);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(probes[i].path);
    std::string reason = cases[i].reason;
    if (reason.starts_with("{dir}")) reason.replace(0, 5, dir.path());
    EXPECT_EQ(outcomes[i].allowed, cases[i].allowed);
    EXPECT_EQ(outcomes[i].exists, cases[i].exists);
    EXPECT_EQ(outcomes[i].reason, reason);
  }
  EXPECT_FALSE(fs::exists(dir.path() + "/new"));
}

}  // namespace
}  // namespace veltrano::platform
