#include "platform/accounts.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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

extern char** environ;

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

// Makes this (child) process `account` for good: the empty text on
// success, else why not. setuid from root sets the real, effective and saved
// user ids alike; each is checked, and so is that root can't be taken back.
std::string TakeIdentity(const Account& account) {
  const std::string failed = "cannot become " + account.name + ": ";
  std::string step;
  if (::initgroups(account.name.c_str(), account.gid) != 0) {
    step = "initgroups";
  } else if (::setgid(account.gid) != 0) {
    step = "setgid";
  } else if (::setuid(account.uid) != 0) {
    step = "setuid";
  }
  if (!step.empty()) return failed + step + ": " + ErrorText(errno);
  uid_t ruid, euid, suid;
  gid_t rgid, egid, sgid;
  if (::getresuid(&ruid, &euid, &suid) != 0 || ::getresgid(&rgid, &egid, &sgid) != 0 ||
      ruid != account.uid || euid != account.uid || suid != account.uid || rgid != account.gid ||
      egid != account.gid || sgid != account.gid) {
    return failed + "its user and group ids did not all change";
  }
  if (account.uid != 0 &&
      (::setuid(0) == 0 || ::seteuid(0) == 0 || ::setgid(0) == 0 || ::setegid(0) == 0)) {
    return failed + "root could be taken back";
  }
  return {};
}

// Closes every descriptor from 3 on but `a` and `b` (both 3 or above).
bool CloseAllBut(unsigned a, unsigned b) {
  const unsigned low = std::min(a, b), high = std::max(a, b);
  return (low == 3 || ::close_range(3, low - 1, 0) == 0) &&
         (high == low + 1 || ::close_range(low + 1, high - 1, 0) == 0) &&
         ::close_range(high + 1, ~0U, 0) == 0;
}

bool SetLimit(int resource, rlim_t soft, rlim_t hard) {
  const rlimit limit{soft, hard};
  return ::setrlimit(resource, &limit) == 0;
}

bool LimitResources(const ResourceLimits& resources) {
  const auto cpu = static_cast<rlim_t>(resources.cpuTime.count());
  // The soft limit sends SIGXCPU; the hard one, a second later, SIGKILL.
  if (!SetLimit(RLIMIT_CORE, 0, 0) || !SetLimit(RLIMIT_CPU, cpu, cpu + 1)) return false;
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return SetLimit(RLIMIT_AS, resources.addressSpace, resources.addressSpace);
#endif
}

// Everything the child does before its work, in this order: a session of
// its own, /dev/null for its standard descriptors and none but the two
// pipes besides, the identity, the limits, the environment. The empty text
// on success, else why not. `envp` and the pipes were made before the fork.
std::string Confine(const ChildSetup& setup, char** envp, pid_t parent, int& status, int& output) {
  if (::setsid() < 0) return "setsid: " + ErrorText(errno);
  // Out of the way of 0, 1 and 2 first, should the caller have had one closed.
  status = ::fcntl(status, F_DUPFD_CLOEXEC, 3);
  output = ::fcntl(output, F_DUPFD_CLOEXEC, 3);
  const int devNull = ::open("/dev/null", O_RDWR);
  if (status < 0 || output < 0 || devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 ||
      ::dup2(devNull, 2) < 0) {
    return "no /dev/null for standard input and output: " + ErrorText(errno);
  }
  if (!CloseAllBut(static_cast<unsigned>(status), static_cast<unsigned>(output))) {
    return "close_range: " + ErrorText(errno);
  }
  if (setup.identity) {
    if (std::string why = TakeIdentity(*setup.identity); !why.empty()) return why;
  }
  if (setup.resources && !LimitResources(*setup.resources)) {
    return "setrlimit: " + ErrorText(errno);
  }
  // Set after the identity, which clears it; a parent already gone ends the
  // child here.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
    return "its parent has ended";
  }
  environ = envp;
  return {};
}

// Reads what `fd` has now into `out` (at most `max` bytes kept, and `cut`
// set when more came); false at its end or on an error.
bool ReadAvailable(int fd, std::size_t max, std::string& out, bool* cut = nullptr) {
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    std::size_t keep = std::min(static_cast<std::size_t>(n), max - out.size());
    if (keep < static_cast<std::size_t>(n) && cut != nullptr) *cut = true;
    out.append(buf, keep);
  }
}

// Reads `fd` into `out` until its end; false when the deadline passes first.
bool ReadUntilEnd(int fd, const Deadline& deadline, std::size_t max, std::string& out) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, deadline.MillisecondsLeft());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    if (!ReadAvailable(fd, max, out)) return true;
  }
}

// Collects `fd` into the report until the child ends or the deadline
// passes; true when it ended, with its status.
bool CollectUntilExit(pid_t pid, int fd, const Deadline& deadline, std::size_t max,
                      ChildReport& report, int& status) {
  bool open = true;
  for (;;) {
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      // What it wrote just before it ended.
      if (open) ReadAvailable(fd, max, report.output, &report.outputCut);
      return true;
    }
    if (deadline.Passed()) return false;
    int slice = std::min(kPollSliceMs, deadline.MillisecondsLeft());
    if (open) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, slice) > 0) open = ReadAvailable(fd, max, report.output, &report.outputCut);
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

ChildReport RunAs(const ChildSetup& setup, const std::function<int(int)>& work,
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
  std::vector<std::string> environment = setup.environment;
  std::vector<char*> envp = CStringArray(environment);

  const Deadline deadline(limits.run);
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid < 0) {
    report.outcome.error = ErrorText(errno);
    return report;
  }
  if (pid == 0) {
    int status = statusWrite.Release(), output = outputWrite.Release();
    if (std::string why = Confine(setup, envp.data(), parent, status, output); !why.empty()) {
      WriteAll(status, why);
      ::_exit(127);
    }
    ::close(status);  // the parent now knows the child is under way
    int code = 125;
    try {
      code = work(output);
    } catch (...) {
    }
    ::_exit(code);
  }
  statusWrite.Reset();
  outputWrite.Reset();
  ::fcntl(statusRead.get(), F_SETFL, O_NONBLOCK);
  ::fcntl(outputRead.get(), F_SETFL, O_NONBLOCK);

  // The status pipe ends once the child is confined, or with why not.
  std::string why;
  int status = 0;
  bool started = ReadUntilEnd(statusRead.get(), deadline, kMaxChildOutput, why);
  if (started && !why.empty()) {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    report.outcome.error = why;
    return report;
  }
  if (!started ||
      !CollectUntilExit(pid, outputRead.get(), deadline, setup.maxOutput, report, status)) {
    StopChildGroup(pid, Deadline(limits.grace), status);
    report.outcome.ending = ChildOutcome::Ending::kTimedOut;
    return report;
  }
  report.outcome = EndedWith(status);
  return report;
}

ChildReport RunProgramAs(const ChildSetup& setup, const std::vector<std::string>& argv,
                         const ChildLimits& limits) {
  if (argv.empty()) return ChildReport{};
  std::vector<std::string> args = argv;
  std::vector<char*> argp = CStringArray(args);
  return RunAs(
      setup,
      [&](int output) {
        if (::dup2(output, 2) < 0) return 127;
        // The environment is the setup's by now, its PATH included.
        ::execvp(argp[0], argp.data());
        WriteAll(2, "cannot run " + argv[0] + ": " + ErrorText(errno) + "\n");
        return 127;
      },
      limits);
}

}  // namespace veltrano::platform
