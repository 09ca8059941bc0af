// A file that takes whole records from concurrent processes (the data file).
//
// Many requests may write the same file at the same time. Each record is
// stored with one write(2) on a descriptor opened with O_APPEND, while the
// writer holds an exclusive flock(2) on the file, so records never interleave
// and none is lost. In truncate mode the file is emptied when it is opened
// and again, under the lock, just before the record goes in: of several
// requests racing, exactly the last writer's record remains.
//
// Records are written in text mode: every LF is stored as CR LF. New files
// get mode 0666 less the process umask.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrano::platform {

class RecordFile {
 public:
  enum class Mode { kAppend, kTruncate };

  // Opens (creating when missing) `path` for records; none when it can't be
  // opened (missing directory, no permission, a directory, ...).
  static std::optional<RecordFile> Open(const std::string& path, Mode mode);

  RecordFile(RecordFile&& other) noexcept;
  RecordFile& operator=(RecordFile&&) = delete;
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  ~RecordFile();

  // Stores `record` (text mode) as one write under the lock. False when the
  // lock could not be taken or the record was not stored whole.
  bool Write(std::string_view record);

 private:
  RecordFile(int fd, Mode mode) : fd_(fd), mode_(mode) {}
  int fd_;
  Mode mode_;
};

}  // namespace veltrano::platform
