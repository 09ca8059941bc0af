// Temporary files for the PGP bridge.
//
// Names are `<directory>/kov<N>`: N rises within the process, and a number is
// taken only when neither kov<N> nor kov<N>.asc exists, so a stale armoured
// file from an earlier request is never mistaken for a new one. The .asc is
// looked for again after kov<N> is created: an armoured file alone holds its
// number until its reader removes it. The file is
// created with O_CREAT|O_EXCL and mode 0600: another process (or a symbolic
// link planted in a shared /tmp) can never hand us a file we did not create,
// and no other user can read the plain text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano::platform {

// The first of `candidates` (empty ones skipped) that names an existing
// directory, else /tmp, else "." (the current directory).
std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates);

// Creates a new file in `directory` under the name rule above and writes
// `text` into it in text mode (every LF stored as CR LF). The path, or none
// when no name could be taken or the text could not be written whole (a
// half-written file is removed again).
std::optional<std::string> CreateTempTextFile(const std::string& directory, std::string_view text);

// Removes a file; false when it did not exist or could not be removed.
bool RemoveFile(const std::string& path);

// True when `path` exists (as anything, a dangling symbolic link included).
bool PathExists(const std::string& path);

}  // namespace veltrano::platform
