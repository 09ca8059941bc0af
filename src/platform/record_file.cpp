#include "platform/record_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.hpp"
#include "platform/file_lock.hpp"
#include "platform/files.hpp"
#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {

// True when the file's content ends with a line end, or it is empty.
bool EndsLine(int fd, off_t length) {
  if (length == 0) return true;
  char last = 0;
  ssize_t n = -1;
  do {
    n = ::pread(fd, &last, 1, length - 1);
  } while (n < 0 && errno == EINTR);
  return n == 1 && last == '\n';
}

}  // namespace

std::optional<std::string> StoreRecord(const std::string& path, RecordMode mode,
                                       std::string_view record, const Deadline& budget) {
  std::string bytes = EncodeTextMode(record);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.valid()) return ErrorText(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ErrorText(errno);
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  if (std::optional<std::string> error = LockExclusive(fd.get(), budget)) return error;
  // Closing the descriptor releases the lock.
  if (mode == RecordMode::kTruncate && ::ftruncate(fd.get(), 0) != 0) return ErrorText(errno);
  // Under the lock, the length is where this record begins.
  if (::fstat(fd.get(), &st) != 0) return ErrorText(errno);
  const off_t before = st.st_size;
  // A fragment without its line end (left by a crash, or by an older
  // program on a full disk) must not swallow this record.
  if (!EndsLine(fd.get(), before)) bytes.insert(0, "\r\n");
  errno = 0;
  if (WriteAll(fd.get(), bytes)) return std::nullopt;
  // A full disk or a file size limit: what went in is cut away, so the file
  // holds whole records only, and the next one starts on a line of its own.
  std::string why = errno != 0 ? ErrorText(errno) : std::string("nothing written");
  if (::ftruncate(fd.get(), before) != 0) {
    return why + ", and the part written could not be cut away: " + ErrorText(errno);
  }
  return why + ", nothing of it kept";
}

}  // namespace veltrano::platform
