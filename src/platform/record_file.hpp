// A file that takes whole records from concurrent processes (the data file).
//
// Many requests may write the same file at the same time. Each record is
// written on a descriptor opened with O_APPEND, while the
// writer holds an exclusive flock(2) on the file, so records never interleave
// and none is lost. In truncate mode the file is emptied just before the
// record goes in, under the lock: of several requests racing, exactly the
// last writer's record remains.
//
// A record is whole on disk or absent: a write that fails part way (a full
// disk, a file size limit) is cut back, under the lock, to the length the
// file had before it. A file whose content does not end with a line end (a
// fragment a crash left) gets one before the record, so every record starts
// on a line of its own.
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
// or written whole (a full disk: "No space left on device, nothing of it
// kept").
std::optional<std::string> StoreRecord(const std::string& path, RecordMode mode,
                                       std::string_view record,
                                       const Deadline& budget = Deadline::Never());

}  // namespace veltrano::platform
