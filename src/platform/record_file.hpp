// A file that takes whole records from concurrent processes (the data file).
//
// Many requests may write the same file at the same time. Each record is
// stored with one write(2) on a descriptor opened with O_APPEND, while the
// writer holds an exclusive flock(2) on the file, so records never interleave
// and none is lost. In truncate mode the file is emptied just before the
// record goes in, under the lock: of several requests racing, exactly the
// last writer's record remains.
//
// Records are written in text mode: every LF is stored as CR LF. New files
// get mode 0666 less the process umask. The lock is waited for until the
// request's budget ends (platform/file_lock.hpp), then the record is not
// stored. Failures come back with the operating system's reason, for the
// administrator's log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.hpp"

namespace veltrano::platform {

enum class RecordMode { kAppend, kTruncate };

// Stores `record` in the file at `path` (created when missing). None on
// success, else why it was not stored: the file could not be opened (no
// such directory, no permission, not a regular file), locked by `budget`
// or written whole (a full disk).
std::optional<std::string> StoreRecord(const std::string& path, RecordMode mode,
                                       std::string_view record,
                                       const Deadline& budget = Deadline::Never());

}  // namespace veltrano::platform
