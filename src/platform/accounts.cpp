#include "platform/accounts.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "platform/deadline.hpp"
#include "platform/fd.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

namespace veltrano::platform {

namespace {

// How often a wait looks whether the child has ended while it reads.
constexpr int kPollSliceMs = 50;

template <typename Lookup>
std::optional<Account> LookUp(Lookup lookup) {
  std::vector<char> buffer(1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    int error = lookup(&entry, buffer.data(), buffer.size(), &found);
    // Entries with very long fields need a larger buffer; 1 MiB is beyond any.
    if (error == ERANGE && buffer.size() < 1024 * 1024) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return std::nullopt;
    return Account{found->pw_name, found->pw_uid, found->pw_gid,
                   found->pw_dir != nullptr ? found->pw_dir : ""};
  }
}

// Makes this (child) process `account`; the empty text on success, else why not.
std::string TakeIdentity(const Account& account) {
  std::string step;
  if (::initgroups(account.name.c_str(), account.gid) != 0) {
    step = "initgroups";
  } else if (::setgid(account.gid) != 0) {
    step = "setgid";
  } else if (::setuid(account.uid) != 0) {
    step = "setuid";
  } else if (account.uid != 0 && ::setuid(0) == 0) {
    return "cannot become " + account.name + ": root could be taken back";
  } else {
    return {};
  }
  return "cannot become " + account.name + ": " + step + ": " + ErrorText(errno);
}

// Reads what `fd` has now into `out` (at most kMaxChildOutput kept); false
// at its end or on an error.
bool ReadAvailable(int fd, std::string& out) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    std::size_t keep = std::min(static_cast<std::size_t>(n), kMaxChildOutput - out.size());
    out.append(buf, keep);
  }
}

// Reads `fd` into `out` until its end; false when the deadline passes first.
bool ReadUntilEnd(int fd, const Deadline& deadline, std::string& out) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, deadline.MillisecondsLeft());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (!ReadAvailable(fd, out)) return true;
  }
}

// Collects `fd` until the child ends or the deadline passes; true when it
// ended, with its status.
bool CollectUntilExit(pid_t pid, int fd, const Deadline& deadline, std::string& out, int& status) {
  bool open = true;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      if (open) ReadAvailable(fd, out);  // what it wrote just before it ended
      return true;
    }
    if (deadline.Passed()) return false;
    int slice = std::min(kPollSliceMs, deadline.MillisecondsLeft());
    if (open) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, slice) > 0) open = ReadAvailable(fd, out);
    } else {
      ::poll(nullptr, 0, slice);
    }
  }
}

}  // namespace

std::optional<Account> FindAccount(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  return LookUp([&name](passwd* entry, char* buf, std::size_t size, passwd** found) {
    return ::getpwnam_r(name.c_str(), entry, buf, size, found);
  });
}

std::optional<Account> CurrentAccount() {
  const uid_t uid = ::geteuid();
  return LookUp([uid](passwd* entry, char* buf, std::size_t size, passwd** found) {
    return ::getpwuid_r(uid, entry, buf, size, found);
  });
}

bool IsRoot() {
  return ::geteuid() == 0;
}

ChildReport RunAs(const std::optional<Account>& identity, const std::function<int(int)>& work,
                  const ChildLimits& limits) {
  ChildReport report;
  int statusPipe[2], outputPipe[2];
  if (::pipe2(statusPipe, O_CLOEXEC) != 0) {
    report.outcome.error = ErrorText(errno);
    return report;
  }
  UniqueFd statusRead(statusPipe[0]), statusWrite(statusPipe[1]);
  if (::pipe2(outputPipe, O_CLOEXEC) != 0) {
    report.outcome.error = ErrorText(errno);
    return report;
  }
  UniqueFd outputRead(outputPipe[0]), outputWrite(outputPipe[1]);

  const Deadline deadline(limits.run);
  pid_t pid = ::fork();
  if (pid < 0) {
    report.outcome.error = ErrorText(errno);
    return report;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    if (identity) {
      if (std::string why = TakeIdentity(*identity); !why.empty()) {
        WriteAll(statusWrite.get(), why);
        ::_exit(127);
      }
    }
    statusWrite.Reset();  // the parent now knows the child is under way
    ::_exit(work(outputWrite.get()));
  }
  ::setpgid(pid, pid);  // whichever of the two runs first
  statusWrite.Reset();
  outputWrite.Reset();
  ::fcntl(statusRead.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(outputRead.get(), F_SETFL, O_NONBLOCK);

  // The status pipe ends once the child has its identity, or with why not.
  std::string why;
  int status = 0;
  bool started = ReadUntilEnd(statusRead.get(), deadline, why);
  if (started && !why.empty()) {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    report.outcome.error = why;
    return report;
  }
  if (!started || !CollectUntilExit(pid, outputRead.get(), deadline, report.output, status)) {
    StopChildGroup(pid, Deadline(limits.grace), status);
    report.outcome.ending = ChildOutcome::Ending::kTimedOut;
    return report;
  }
  report.outcome = EndedWith(status);
  return report;
}

ChildReport RunProgramAs(const std::optional<Account>& identity,
                         const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, const ChildLimits& limits) {
  if (argv.empty()) return ChildReport{};
  std::vector<std::string> args = argv, env = environment;
  std::vector<char*> argp = CStringArray(args), envp = CStringArray(env);
  const char* path = nullptr;
  for (const std::string& entry : environment) {
    if (entry.starts_with("PATH=")) path = entry.c_str() + 5;
  }
  return RunAs(
      identity,
      [&](int output) {
        UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
        if (!devNull.valid() || ::dup2(devNull.get(), 0) < 0 || ::dup2(devNull.get(), 1) < 0 ||
            ::dup2(output, 2) < 0) {
          return 127;
        }
        // execvpe searches the PATH of this process, not that of `envp`.
        if (path != nullptr) ::setenv("PATH", path, 1);
        ::execvpe(argp[0], argp.data(), envp.data());
        WriteAll(2, "cannot run " + argv[0] + ": " + ErrorText(errno) + "\n");
        return 127;
      },
      limits);
}

}  // namespace veltrano::platform
