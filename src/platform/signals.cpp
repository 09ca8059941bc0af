#include "platform/signals.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace veltrano::platform {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// An encryption holds two files at a time (the plain file and its armour)
// in one directory of its own.
constexpr int kSlots = 4;

// How often a group is looked at while it is given time to end.
constexpr long kGroupPollNs = 10'000'000;

using Slot = std::atomic<char*>;

// Each slot owns a heap copy of its path; a slot is published after its
// text is complete and withdrawn before the text goes.
Slot files[kSlots];
Slot directories[kSlots];
// The group of the child being waited for, and when to kill it by force
// should this program be told to stop: `childGraceNs` after that, but never
// past `childBudgetEnd` (in MonotonicNs).
std::atomic<pid_t> childGroup{0};
std::atomic<long long> childGraceNs{0};
std::atomic<long long> childBudgetEnd{0};

// Async-signal-safe, like everything the handler calls.
long long MonotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// True while a process of the group lives. Its members that have ended and
// are this program's children (the leader, and the orphans this program
// adopts as a subreaper) are reaped, so that they no longer count; when the
// leader is among them, `status` says how it ended.
bool GroupAlive(pid_t group, bool& reaped, int& status) {
  int ended = 0;
  for (pid_t pid; (pid = ::waitpid(-group, &ended, WNOHANG)) > 0;) {
    if (pid == group) {
      reaped = true;
      status = ended;
    }
  }
  return ::kill(-group, 0) == 0 || errno == EPERM;
}

void EndGroupBy(pid_t group, long long killAtNs, int& status) {
  bool reaped = false;
  ::kill(-group, SIGTERM);
  while (GroupAlive(group, reaped, status)) {
    const long long left = killAtNs - MonotonicNs();
    if (left <= 0) break;
    timespec pause{0, left < kGroupPollNs ? left : kGroupPollNs};
    ::nanosleep(&pause, nullptr);
  }
  // Whether or not the leader has ended: what is left of the group must not
  // outlive the request, holding its standard output open.
  ::kill(-group, SIGKILL);
  while (!reaped && ::waitpid(group, &status, 0) < 0 && errno == EINTR) {
  }
}

void RemoveFiles() {
  for (Slot& slot : files) {
    if (char* path = slot.load()) ::unlink(path);
  }
}

void OnTermination(int signal) {
  RemoveFiles();  // the plain text of a mail first
  if (pid_t group = childGroup.load(); group > 0) {
    const long long graceEnd = MonotonicNs() + childGraceNs.load();
    const long long budgetEnd = childBudgetEnd.load();
    int status = 0;
    EndGroupBy(group, graceEnd < budgetEnd ? graceEnd : budgetEnd, status);
  }
  RemoveFiles();  // and what the child wrote meanwhile
  for (Slot& slot : directories) {
    if (char* path = slot.load()) ::rmdir(path);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(signal, &dfl, nullptr);
  ::raise(signal);  // delivered as soon as this handler returns
}

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kTerminationSignals) sigaddset(&set, s);
  return set;
}

void SetAction(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallTerminationCleanup() {
  struct sigaction action {};
  action.sa_handler = OnTermination;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : kTerminationSignals) sigaddset(&action.sa_mask, s);
  for (int s : kTerminationSignals) ::sigaction(s, &action, nullptr);
  // A write to a reader that has gone (the web server stopped reading) fails
  // with EPIPE instead of ending the program; sockets send with MSG_NOSIGNAL
  // too (net.cpp).
  SetAction(SIGPIPE, SIG_IGN);
  // A write past a file size limit fails with EFBIG instead of ending the
  // program, so the record is cut back and the request goes on.
  SetAction(SIGXFSZ, SIG_IGN);
  // An ignored SIGCHLD, inherited from whoever started the program, would
  // make the kernel reap children at once: their status would be lost.
  SetAction(SIGCHLD, SIG_DFL);
  // Orphans of a child's group come to this program, not to init, so that
  // the group is seen to have ended as soon as it has, whether or not init
  // reaps promptly.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

HoldTermination::HoldTermination() {
  sigset_t set = TerminationSet();
  held_ = ::sigprocmask(SIG_BLOCK, &set, nullptr) == 0;
}

HoldTermination::~HoldTermination() {
  sigset_t set = TerminationSet();
  if (held_) ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

RemovedOnTermination::RemovedOnTermination(const std::string& path, Kind kind) {
  for (Slot& slot : kind == Kind::kFile ? files : directories) {
    if (slot.load() != nullptr) continue;
    char* copy = new char[path.size() + 1];
    std::memcpy(copy, path.c_str(), path.size() + 1);
    char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, copy)) {
      slot_ = &slot;
      return;
    }
    delete[] copy;
  }
}

RemovedOnTermination::~RemovedOnTermination() {
  if (slot_ != nullptr) delete[] slot_->exchange(nullptr);
}

void SetChildGroup(pid_t group, std::chrono::milliseconds grace, const Deadline& budget) {
  childGraceNs.store(static_cast<long long>(grace.count()) * 1'000'000);
  childBudgetEnd.store(MonotonicNs() +
                       static_cast<long long>(budget.MillisecondsLeft()) * 1'000'000);
  childGroup.store(group);
}

void ClearChildGroup() {
  childGroup.store(0);
}

void StopChildGroup(pid_t group, const Deadline& grace, int& status) {
  EndGroupBy(group, MonotonicNs() + static_cast<long long>(grace.MillisecondsLeft()) * 1'000'000,
             status);
}

}  // namespace veltrano::platform
