// Child processes, each with a time limit.
//
// Two ways to run another program, for two kinds of caller:
// - RunQuietly starts a program from an argument vector (no shell: every
//   argument stays whole, whatever it holds). Its standard input and output
//   are /dev/null, so nothing of it reaches the response; its standard error
//   is the program's own, which web servers write to their error log.
// - RunShellCommand hands a command line to /bin/sh -c with the program's own
//   standard handles, as the C library's system() does, and with `values`
//   added to its environment: the command text refers to them instead of
//   holding them, so no value is ever parsed as shell code.
// Each child runs in a process group of its own. When it outlives
// ChildLimits::run, the group gets SIGTERM, and SIGKILL ChildLimits::grace
// later, whether or not the child itself has ended by then (signals.hpp:
// StopChildGroup); the child then counts as timed out. Both waits end at the end of
// ChildLimits::budget (the request's) if that comes first, so a child still
// running then is stopped by force at once; once the budget is spent, no
// child is started and the call counts as timed out. While a child runs, a
// termination signal to this program ends its group too, before the program
// ends (signals.hpp).
// Children start with the default action for every signal.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "platform/deadline.hpp"

namespace veltrano::platform {

struct ChildLimits {
  std::chrono::milliseconds run{60000};
  std::chrono::milliseconds grace{5000};
  Deadline budget = Deadline::Never();
};

struct ChildOutcome {
  enum class Ending { kExited, kSignaled, kTimedOut, kNotStarted };
  Ending ending = Ending::kNotStarted;
  int code = 0;              // exit status, signal number, or errno when not started
  std::string error;         // kNotStarted: why
  bool budgetSpent = false;  // kTimedOut: the budget ended it, not the run limit

  bool Succeeded() const { return ending == Ending::kExited && code == 0; }
  // For the administrator's log, e.g. "exit status 2", "killed by signal 9",
  // "stopped after 60 s", "not done within the request's time budget of
  // 50 s", "could not be started: No such file or directory".
  std::string Describe(const ChildLimits& limits) const;
};

// Environment entries "NAME=value" added to a child's environment; an entry
// of the program's own environment with the same name is left out.
using ExtraEnvironment = std::vector<std::pair<std::string, std::string>>;

// The argv or envp array of `strings` for exec: a pointer to each, then a
// null pointer. The strings must outlive it.
std::vector<char*> CStringArray(std::vector<std::string>& strings);

// How a child ended, from the status waitpid(2) gave for it.
ChildOutcome EndedWith(int status);

// Starts argv[0] (searched on PATH) with the arguments `argv` and waits for it.
ChildOutcome RunQuietly(const std::vector<std::string>& argv, const ChildLimits& limits = {});

// /bin/sh -c command. The shell reads the command as a C string, so a NUL
// byte ends it.
ChildOutcome RunShellCommand(const std::string& command, const ExtraEnvironment& values,
                             const ChildLimits& limits = {});

}  // namespace veltrano::platform
