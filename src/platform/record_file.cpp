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

std::optional<std::string> StoreRecord(const std::string& path, RecordMode mode,
                                       std::string_view record, const Deadline& budget) {
  const std::string bytes = EncodeTextMode(record);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd.valid()) return ErrorText(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ErrorText(errno);
  if (!S_ISREG(st.st_mode)) return std::string("not a regular file");
  if (std::optional<std::string> error = LockExclusive(fd.get(), budget)) return error;
  // Closing the descriptor releases the lock.
  if (mode == RecordMode::kTruncate && ::ftruncate(fd.get(), 0) != 0) return ErrorText(errno);
  ssize_t n = -1;
  do {
    n = ::write(fd.get(), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  // A short write means a full disk or a file size limit; a second write
  // could no longer keep the record in one piece, so it is reported instead.
  if (n < 0) return ErrorText(errno);
  if (static_cast<std::size_t>(n) != bytes.size()) return std::string("the record was cut short");
  return std::nullopt;
}

}  // namespace veltrano::platform
