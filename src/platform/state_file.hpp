// A small file of state that requests read and replace whole, one at a time
// (the rate limit's counts, and any other state a template keeps).
//
// Opening takes an exclusive flock(2) on a lock file beside the state,
// PATH.lock, which is never renamed, and holds it for the object's life, so
// a read, a decision and the replacement of one request are never mixed
// with another's. The lock is waited for `lockWait` at most, and never past
// the request's budget (platform/file_lock.hpp): state that is locked for
// longer is not used, rather than holding up the request.
//
// The state is replaced whole: the new content is written to PATH.tmp
// (made afresh, mode 0600 less the umask), flushed to disk, and renamed
// over PATH. A signal, a crash or a full disk therefore leaves the old
// content or the new, never a part of either; a replacement that fails
// leaves the old content as it was. (A rewrite in place would need every
// signal held, and none can hold off SIGKILL or a power cut.)
//
// A symbolic link is never followed, for the state, its lock file or its
// temporary file, so the path can't be turned into another file of the web
// server's user; anything but a regular file is refused. A missing state
// file reads as empty and is made by the first replacement. Failures say
// why, for the administrator's log.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/deadline.hpp"
#include "platform/fd.hpp"

namespace veltrano::platform {

// Long enough for the requests queued on one state file (each holds the
// lock for a read, a rename and a flush to disk), short enough that a lock
// held for ever (a hung process, a `flock` by hand) costs a visitor little.
inline constexpr std::chrono::seconds kStateLockWait{3};

class StateFile {
 public:
  // The state's lock file and temporary file: names no other file of a
  // template may take.
  static std::string LockPath(const std::string& path) { return path + ".lock"; }
  static std::string TemporaryPath(const std::string& path) { return path + ".tmp"; }

  // Locks and reads the state at `path`; none with `error` set when it
  // can't be used.
  static std::optional<StateFile> Open(const std::string& path, std::string& error,
                                       const Deadline& budget = Deadline::Never(),
                                       Deadline::Clock::duration lockWait = kStateLockWait);

  const std::string& content() const { return content_; }
  // Makes `content` the whole state; false with `error` set, the old
  // content left as it was.
  bool Replace(std::string_view content, std::string& error);

 private:
  StateFile(std::string path, UniqueFd lock, std::string content)
      : path_(std::move(path)), lock_(std::move(lock)), content_(std::move(content)) {}

  std::string path_;
  UniqueFd lock_;  // closing it releases the lock
  std::string content_;
};

}  // namespace veltrano::platform
