// A file system that fills up: a tmpfs of a few KiB mounted on a test's own
// temporary directory, and unmounted when the test ends. Mounting needs
// root; without it the test is skipped, except under CI (CI set), which runs
// as root, where it is a failure.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>

#include "support/cgi_runner.hpp"

namespace veltrano::testing {

class SmallFileSystem : public TempDir {
 public:
  explicit SmallFileSystem(std::size_t bytes);
  ~SmallFileSystem();
  // Empty once mounted; else why not.
  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

}  // namespace veltrano::testing

#define SKIP_WITHOUT_SMALL_FILE_SYSTEM(fs)                                    \
  if (!(fs).error().empty()) {                                                \
    if (std::getenv("CI") != nullptr) FAIL() << "no tmpfs: " << (fs).error(); \
    GTEST_SKIP() << "no tmpfs (needs root): " << (fs).error();                \
  }
