// A small state file that requests read and rewrite one at a time (the rate
// limit's counts). Opening takes an exclusive flock(2) that lasts as long
// as the object, so a read, a decision and the rewrite of one request are
// never mixed with another's; the lock is waited for until the request's
// budget ends (platform/file_lock.hpp). The file is created (mode 0600 less
// the umask) when missing. A symbolic link is never followed, so the path
// can't be turned into another file of the web server's user; anything but
// a regular file is refused. Failures say why, for the administrator's log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.hpp"
#include "platform/fd.hpp"

namespace veltrano::platform {

class LockedFile {
 public:
  // Waits for the lock until `budget`; none with `error` set when the file
  // can't be used.
  static std::optional<LockedFile> Open(const std::string& path, std::string& error,
                                        const Deadline& budget = Deadline::Never());

  // The whole content, or none with `error` set.
  std::optional<std::string> Read(std::string& error);
  // Makes `content` the whole content; false with `error` set.
  bool Replace(std::string_view content, std::string& error);

 private:
  explicit LockedFile(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;  // closing it releases the lock
};

}  // namespace veltrano::platform
