#include "platform/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace veltrano::platform {

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// An encryption holds two files at a time (the plain file and its armour)
// in one directory of its own.
constexpr int kSlots = 4;

using Slot = std::atomic<char*>;

// Each slot owns a heap copy of its path; a slot is published after its
// text is complete and withdrawn before the text goes.
Slot files[kSlots];
Slot directories[kSlots];
std::atomic<pid_t> childGroup{0};

void OnTermination(int signal) {
  for (Slot& slot : files) {
    if (char* path = slot.load()) ::unlink(path);
  }
  for (Slot& slot : directories) {
    if (char* path = slot.load()) ::rmdir(path);
  }
  if (pid_t group = childGroup.load(); group > 0) ::kill(-group, SIGTERM);
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
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
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

void SetChildGroup(pid_t group) {
  childGroup.store(group);
}

}  // namespace veltrano::platform
