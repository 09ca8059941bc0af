#include "platform/record_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {

bool Lock(int fd, int operation) {
  while (::flock(fd, operation) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Empties the file under the lock.
bool Empty(int fd) {
  if (!Lock(fd, LOCK_EX)) return false;
  bool ok = ::ftruncate(fd, 0) == 0;
  Lock(fd, LOCK_UN);
  return ok;
}

}  // namespace

std::optional<RecordFile> RecordFile::Open(const std::string& path, Mode mode) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (mode == Mode::kTruncate && !Empty(fd))) {
    ::close(fd);
    return std::nullopt;
  }
  return RecordFile(fd, mode);
}

RecordFile::RecordFile(RecordFile&& other) noexcept : fd_(other.fd_), mode_(other.mode_) {
  other.fd_ = -1;
}

RecordFile::~RecordFile() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock too
}

bool RecordFile::Write(std::string_view record) {
  std::string bytes = EncodeTextMode(record);
  if (fd_ < 0 || !Lock(fd_, LOCK_EX)) return false;
  bool ok = mode_ != Mode::kTruncate || ::ftruncate(fd_, 0) == 0;
  ssize_t n = -1;
  if (ok) {
    do {
      n = ::write(fd_, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
  }
  // A short write means a full disk or a file size limit; a second write
  // could no longer keep the record in one piece, so it is reported instead.
  ok = ok && n == static_cast<ssize_t>(bytes.size());
  Lock(fd_, LOCK_UN);
  return ok;
}

}  // namespace veltrano::platform
