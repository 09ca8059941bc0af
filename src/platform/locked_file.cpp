#include "platform/locked_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_lock.hpp"
#include "platform/files.hpp"

namespace veltrano::platform {

std::optional<LockedFile> LockedFile::Open(const std::string& path, std::string& error,
                                           const Deadline& budget) {
  // O_NONBLOCK: a FIFO is opened without waiting for a peer, then refused.
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600));
  if (!fd.valid()) {
    error = errno == ELOOP ? "a symbolic link, not followed" : ErrorText(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return std::nullopt;
  }
  if (std::optional<std::string> failed = LockExclusive(fd.get(), budget)) {
    error = std::move(*failed);
    return std::nullopt;
  }
  return LockedFile(std::move(fd));
}

std::optional<std::string> LockedFile::Read(std::string& error) {
  std::string content;
  char buf[65536];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(fd_.get(), buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = ErrorText(errno);
      return std::nullopt;
    }
    if (n == 0) return content;
    content.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
}

bool LockedFile::Replace(std::string_view content, std::string& error) {
  if (::ftruncate(fd_.get(), 0) != 0) {
    error = ErrorText(errno);
    return false;
  }
  for (off_t at = 0; !content.empty();) {
    ssize_t n = ::pwrite(fd_.get(), content.data(), content.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? ErrorText(errno) : "nothing written";
      return false;
    }
    content.remove_prefix(static_cast<std::size_t>(n));
    at += n;
  }
  return true;
}

}  // namespace veltrano::platform
