#include "platform/state_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

namespace veltrano::platform {

namespace {

// Why `path` could not be opened, as the log says it.
std::string OpenError(int error) {
  return error == ELOOP ? "a symbolic link, not followed" : ErrorText(error);
}

bool IsRegular(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ReadAll(int fd, std::string& error) {
  std::string content;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrorText(errno);
      return std::nullopt;
    }
    if (n == 0) return content;
    content.append(buf, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::optional<StateFile> StateFile::Open(const std::string& path, std::string& error,
                                         const Deadline& budget,
                                         Deadline::Clock::duration lockWait) {
  // O_NONBLOCK: a FIFO is opened without waiting for a peer, then refused.
  const int flags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  const std::string lockPath = LockPath(path);
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | flags, 0600));
  if (!lock.valid() && errno == ENOENT) {
    error = ErrorText(errno);  // no such directory
    return std::nullopt;
  }
  if (!lock.valid() || !IsRegular(lock.get())) {
    error = "its lock file " + lockPath + ": " +
            (lock.valid() ? std::string("not a regular file") : OpenError(errno));
    return std::nullopt;
  }
  if (std::optional<std::string> failed = LockExclusive(lock.get(), budget, lockWait)) {
    error = std::move(*failed);
    return std::nullopt;
  }
  UniqueFd state(::open(path.c_str(), O_RDONLY | flags));
  if (!state.valid() && errno == ENOENT) return StateFile(path, std::move(lock), {});
  if (!state.valid()) {
    error = OpenError(errno);
    return std::nullopt;
  }
  if (!IsRegular(state.get())) {
    error = "not a regular file";
    return std::nullopt;
  }
  std::optional<std::string> content = ReadAll(state.get(), error);
  if (!content) return std::nullopt;
  return StateFile(path, std::move(lock), std::move(*content));
}

bool StateFile::Replace(std::string_view content, std::string& error) {
  const std::string temporary = TemporaryPath(path_);
  auto fail = [&](std::string why) {
    error = std::move(why);
    ::unlink(temporary.c_str());
    return false;
  };
  // One left by a request that was killed; only the lock's holder writes it.
  ::unlink(temporary.c_str());
  RemovedOnTermination removed(temporary);
  UniqueFd fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd.valid()) return fail(OpenError(errno));
  errno = 0;
  if (!WriteAll(fd.get(), content) || ::fsync(fd.get()) != 0) {
    return fail(errno != 0 ? ErrorText(errno) : "nothing written");
  }
  fd.Reset();
  if (::rename(temporary.c_str(), path_.c_str()) != 0) return fail(ErrorText(errno));
  content_ = content;
  return true;
}

}  // namespace veltrano::platform
