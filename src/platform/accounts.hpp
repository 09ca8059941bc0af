// User accounts, and work done in a child process that the caller need not
// trust: a root program hands what another user controls to such a child.
//
// Accounts come from the system's user database through NSS (getpwnam_r),
// so a program that uses this must be linked dynamically: a static glibc
// program cannot load NSS modules safely.
//
// RunAs starts the child and, before any work, confines it:
//   - its own session, so it has no controlling terminal and can't get the
//     caller's back (no /dev/tty, no TIOCSTI into the caller's shell), and
//     it is ended when the caller ends;
//   - standard input, output and error on /dev/null, and no other
//     descriptor of the caller's but the pipe its output goes to;
//   - given an account, that account for good: its supplementary groups
//     (initgroups), its group id, its user id, each checked, and then a
//     check that neither root's user nor group id can be taken back;
//   - exactly the environment it is given;
//   - given resource limits, those: CPU time, address space, no core file.
// Only root can change its identity; a child that can't take the whole
// identity does no work and the outcome says why. Every open, connect or
// exec the work does afterwards is decided by the kernel as for that user.
//
// What the work writes to the descriptor it is handed comes back as the
// output, at most ChildSetup::maxOutput bytes of it (the rest is read and
// dropped, and the report says so). The child has ChildLimits::run to end,
// counted from its start; then its group gets SIGTERM, and SIGKILL
// ChildLimits::grace later.
#pragma once

#include <chrono>
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

// Bounds on what a child may use. A child over its CPU time is killed
// (SIGXCPU, then SIGKILL a second later); one over its address space gets
// no more memory. No limit binds the address space of a build with
// AddressSanitizer, whose shadow memory alone takes terabytes of it.
struct ResourceLimits {
  std::chrono::seconds cpuTime{60};
  std::size_t addressSpace = std::size_t{1} << 30;
};

struct ChildSetup {
  std::optional<Account> identity{};       // taken for good; none: this program's own
  std::vector<std::string> environment{};  // its whole environment, "NAME=value" entries
  std::optional<ResourceLimits> resources{};
  std::size_t maxOutput = kMaxChildOutput;
};

struct ChildReport {
  ChildOutcome outcome;
  std::string output;
  bool outputCut = false;  // it wrote more than maxOutput bytes
};

// Runs `work` in a child confined as `setup` says; the child ends with the
// status `work` returns (125 when it throws). `work` gets the descriptor to
// write its output to.
ChildReport RunAs(const ChildSetup& setup, const std::function<int(int)>& work,
                  const ChildLimits& limits);

// Runs the program argv[0] (searched on the PATH of the setup's
// environment) in such a child, its standard error as the output. A program
// that can't be run exits with status 127 and says why in the output.
ChildReport RunProgramAs(const ChildSetup& setup, const std::vector<std::string>& argv,
                         const ChildLimits& limits);

}  // namespace veltrano::platform
