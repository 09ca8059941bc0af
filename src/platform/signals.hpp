// What happens when the web server ends the program early.
//
// A web server that gives up on a request (the visitor went away, a time-out)
// sends SIGTERM, and a person at a terminal SIGINT or SIGHUP. The program then
// removes every temporary file it has registered here (the plain text of a
// mail to be encrypted among them), ends the process group of the child it
// is waiting for as StopChildGroup does (SIGTERM at once, SIGKILL after the
// child's grace or at the end of the request's budget, whichever is first),
// removes the files again (the child may have written one meanwhile), then
// every temporary directory it has registered (one that still holds a file
// nobody registered stays), and ends by the same signal: no process of the
// child's group outlives the program by more than the grace.
//
// SIGPIPE is ignored: a write to a web server that stopped reading just
// fails, and the request goes on, so its mails and records are not lost
// (the temporary files then go at the end of the run as always). SIGXFSZ is
// ignored too: a write past a file size limit fails instead of ending the
// program. SIGCHLD is set to its default action, whatever the program
// inherited: ignored, it would make the kernel discard every child's
// status. The program is its children's subreaper (prctl(2)), so the
// processes a child leaves behind are reaped as they end. Children start
// with every signal at its default action (process.hpp).
//
// The handlers do only async-signal-safe work; the registry holds a few
// paths of any length, and a registration never allocates inside a handler.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>

#include "platform/deadline.hpp"

namespace veltrano::platform {

// Installs the handlers; once per process, before any temporary file.
void InstallTerminationCleanup();

// Keeps the termination signals away while a file is created and registered,
// so that none can end the program in between.
class HoldTermination {
 public:
  HoldTermination();
  ~HoldTermination();
  HoldTermination(const HoldTermination&) = delete;
  HoldTermination& operator=(const HoldTermination&) = delete;

 private:
  bool held_ = false;
};

// A path that is removed on termination while this object lives: a file,
// or an empty directory once the files are gone. Removing it at the end of
// an ordinary run is the owner's business (see temp_file.hpp).
class RemovedOnTermination {
 public:
  enum class Kind { kFile, kDirectory };
  explicit RemovedOnTermination(const std::string& path, Kind kind = Kind::kFile);
  ~RemovedOnTermination();
  RemovedOnTermination(const RemovedOnTermination&) = delete;
  RemovedOnTermination& operator=(const RemovedOnTermination&) = delete;

 private:
  std::atomic<char*>* slot_ = nullptr;  // the registry entry holding the path, if any
};

// The process group of the child being waited for, and how it is ended
// should the program be told to stop: after `grace`, and never past
// `budget`. ClearChildGroup once it has been reaped.
void SetChildGroup(pid_t group, std::chrono::milliseconds grace, const Deadline& budget);
void ClearChildGroup();

// Ends the process group of the child `group` (its leader's pid), which
// has outlived its time or must not outlive the program: SIGTERM first,
// then, when the group has not ended by `grace`, SIGKILL to all of it, the
// leader ended or not. The leader is reaped either way and `status` says how
// it ended. Safe inside a signal handler.
void StopChildGroup(pid_t group, const Deadline& grace, int& status);

}  // namespace veltrano::platform
