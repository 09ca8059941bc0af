#include "platform/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/deadline.hpp"
#include "platform/fd.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

extern char** environ;

namespace veltrano::platform {

namespace {

// Owns a posix_spawn_file_actions_t.
class FileActions {
 public:
  FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  bool DevNull(int fd, int flags) {
    return ok_ && ::posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", flags, 0) == 0;
  }
  const posix_spawn_file_actions_t* get() const { return ok_ ? &actions_ : nullptr; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// Owns a posix_spawnattr_t: a process group of the child's own, every
// signal at its default action (an ignored one would stay ignored across
// exec) and no signal blocked.
class ChildAttributes {
 public:
  ChildAttributes() {
    sigset_t all, none;
    ok_ = ::posix_spawnattr_init(&attr_) == 0;
    ok_ = ok_ && sigfillset(&all) == 0 && sigemptyset(&none) == 0 &&
          ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
          ::posix_spawnattr_setsigmask(&attr_, &none) == 0 &&
          ::posix_spawnattr_setpgroup(&attr_, 0) == 0 &&
          ::posix_spawnattr_setflags(
              &attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP) == 0;
  }
  ChildAttributes(const ChildAttributes&) = delete;
  ChildAttributes& operator=(const ChildAttributes&) = delete;
  ~ChildAttributes() { ::posix_spawnattr_destroy(&attr_); }
  bool ok() const { return ok_; }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

ChildOutcome NotStarted(int error) {
  ChildOutcome outcome;
  outcome.code = error;
  outcome.error = ErrorText(error);
  return outcome;
}

ChildOutcome TimedOut(bool budgetSpent) {
  ChildOutcome outcome;
  outcome.ending = ChildOutcome::Ending::kTimedOut;
  outcome.budgetSpent = budgetSpent;
  return outcome;
}

// Reaps `pid` if it ends before the deadline. A pidfd wakes the wait the
// moment the child ends; without one (old kernels) the wait polls.
bool WaitUntil(pid_t pid, const Deadline& deadline, int& status) {
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return true;
    if (done < 0 && errno != EINTR) {
      status = 0;  // already reaped elsewhere: nothing more to learn
      return true;
    }
    if (deadline.Passed()) return false;
    if (pidfd.valid()) {
      pollfd p{pidfd.get(), POLLIN, 0};
      ::poll(&p, 1, deadline.MillisecondsLeft());
    } else {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::min(10, std::max(1, deadline.MillisecondsLeft()))));
    }
  }
}

// Waits for the child; past the limit its group is ended, politely first.
ChildOutcome Wait(pid_t pid, const ChildLimits& limits) {
  int status = 0;
  const bool ended = WaitUntil(pid, limits.budget.Within(limits.run), status);
  const bool budgetSpent = !ended && limits.budget.Passed();
  if (!ended) StopChildGroup(pid, limits.budget.Within(limits.grace), status);
  ClearChildGroup();
  if (ended) return EndedWith(status);
  return TimedOut(budgetSpent);
}

ChildOutcome Spawn(const char* path, bool searchPath, std::vector<std::string> argv,
                   std::vector<std::string> env, const FileActions& actions,
                   const ChildLimits& limits) {
  // Nothing is started that could only be stopped again at once.
  if (limits.budget.Passed()) return TimedOut(true);
  ChildAttributes attributes;
  if (!attributes.ok()) return NotStarted(ENOMEM);
  std::vector<char*> args = CStringArray(argv);
  std::vector<char*> envp = CStringArray(env);
  pid_t pid = -1;
  int error = 0;
  {
    // A termination signal between the start and the registration of the
    // child's group would leave the child running.
    HoldTermination hold;
    // glibc reports a failed exec here (the child is started with vfork
    // semantics), so "not found" comes back as an error, not as status 127.
    error =
        searchPath
            ? ::posix_spawnp(&pid, path, actions.get(), attributes.get(), args.data(), envp.data())
            : ::posix_spawn(&pid, path, actions.get(), attributes.get(), args.data(), envp.data());
    if (error == 0) SetChildGroup(pid, limits.grace, limits.budget);
  }
  if (error != 0) return NotStarted(error);
  return Wait(pid, limits);
}

std::vector<std::string> ProgramEnvironment(const ExtraEnvironment& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    std::string_view entry(*e);
    std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [extraName, value] : extra) replaced = replaced || name == extraName;
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  return env;
}

}  // namespace

std::vector<char*> CStringArray(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

ChildOutcome EndedWith(int status) {
  ChildOutcome outcome;
  if (WIFEXITED(status)) {
    outcome.ending = ChildOutcome::Ending::kExited;
    outcome.code = WEXITSTATUS(status);
  } else {
    outcome.ending = ChildOutcome::Ending::kSignaled;
    outcome.code = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return outcome;
}

std::string ChildOutcome::Describe(const ChildLimits& limits) const {
  switch (ending) {
    case Ending::kExited:
      return "exit status " + std::to_string(code);
    case Ending::kSignaled:
      return "killed by signal " + std::to_string(code);
    case Ending::kTimedOut:
      if (budgetSpent) return "not done " + WithinBudget(limits.budget);
      return "stopped after " + DurationText(limits.run);
    case Ending::kNotStarted:
      return "could not be started: " + error;
  }
  return {};
}

ChildOutcome RunQuietly(const std::vector<std::string>& argv, const ChildLimits& limits) {
  if (argv.empty()) return NotStarted(EINVAL);
  FileActions actions;
  if (!actions.DevNull(0, O_RDONLY) || !actions.DevNull(1, O_WRONLY)) return NotStarted(ENOMEM);
  return Spawn(argv[0].c_str(), true, argv, ProgramEnvironment({}), actions, limits);
}

ChildOutcome RunShellCommand(const std::string& command, const ExtraEnvironment& values,
                             const ChildLimits& limits) {
  FileActions inherited;
  return Spawn("/bin/sh", false, {"sh", "-c", command.c_str()}, ProgramEnvironment(values),
               inherited, limits);
}

}  // namespace veltrano::platform
