// A stand-in pgp.exe: a shell script in a directory of its own, first on the
// test process's PATH (where pgp.exe is looked for) while it exists.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/cgi_runner.hpp"

namespace veltrano::testing {

// An environment variable of the test process, set for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class StandInPgp {
 public:
  // `script` is run by /bin/sh as pgp.exe -eaw FILE KEYID.
  void Install(const std::string& script) const {
    bin.Write("pgp.exe", "#!/bin/sh\n" + script);
    std::filesystem::permissions(bin.path() + "/pgp.exe", std::filesystem::perms::owner_all);
  }

  TempDir bin;

 private:
  ScopedEnv path_{"PATH", bin.path() + ":" + std::getenv("PATH")};
};

}  // namespace veltrano::testing
