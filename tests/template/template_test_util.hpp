// Helpers shared by the template tests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "response/response.hpp"

namespace veltrano::testing {

// Runs `f` and returns the fatal page it raised, or none.
template <typename F>
std::optional<FatalError> CatchFatal(F&& f) {
  try {
    f();
  } catch (const FatalError& error) {
    return error;
  }
  return std::nullopt;
}

// Makes `dir` the current directory until the end of the scope.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir) : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCurrentDir() { std::filesystem::current_path(before_); }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::filesystem::path before_;
};

}  // namespace veltrano::testing
