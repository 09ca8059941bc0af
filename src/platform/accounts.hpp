// User accounts, and work done in a child process under another account.
//
// Accounts come from the system's user database through NSS (getpwnam_r),
// so a program that uses this must be linked dynamically: a static glibc
// program cannot load NSS modules safely.
//
// RunAs starts a child in a process group of its own and, given an
// account, makes the child that account before anything else: its
// supplementary groups (initgroups), then its group id, then its user id,
// each checked, and then makes sure that root can't be taken back. Every
// open, access or exec the child does afterwards is decided by the kernel
// exactly as for that user. Only root can change its identity; a child that
// can't take the whole identity does no work and the outcome says why.
//
// What the work writes to the descriptor it is handed comes back as the
// output, at most kMaxChildOutput bytes of it (the rest is read and
// dropped). The child has ChildLimits::run to end, counted from its start;
// then its group gets SIGTERM, and SIGKILL ChildLimits::grace later.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.hpp"

namespace veltrano::platform {

struct Account {
  std::string name;
  unsigned uid = 0;
  unsigned gid = 0;
  std::string home;
};

// The account of `name`, or none when there is no such user.
std::optional<Account> FindAccount(const std::string& name);
// The account this program runs as (its effective user id).
std::optional<Account> CurrentAccount();
bool IsRoot();

// A child's output is a few status lines or a program's error messages.
inline constexpr std::size_t kMaxChildOutput = 64 * 1024;

struct ChildReport {
  ChildOutcome outcome;
  std::string output;
};

// Runs `work` in a child process, as `identity` when given; the child ends
// with the status `work` returns. `work` gets the descriptor to write its
// output to.
ChildReport RunAs(const std::optional<Account>& identity, const std::function<int(int)>& work,
                  const ChildLimits& limits);

// Runs the program argv[0] (searched on the PATH of `environment`) as
// `identity` with exactly `environment` ("NAME=value" entries): standard
// input and output on /dev/null, its standard error as the output. A
// program that can't be run exits with status 127 and says why in the
// output.
ChildReport RunProgramAs(const std::optional<Account>& identity,
                         const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const ChildLimits& limits);

}  // namespace veltrano::platform
