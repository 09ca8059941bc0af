// Temporary files for the PGP bridge.
//
// Names are `<directory>/kov<N>`: N rises within the process, and a number is
// taken only when neither kov<N> nor kov<N>.asc exists, so a stale armoured
// file from an earlier request is never mistaken for a new one. The .asc is
// looked for again after kov<N> is created: an armoured file alone holds its
// number until its reader removes it. The file is created with
// O_CREAT|O_EXCL and mode 0600: another process (or a symbolic link planted
// in a shared /tmp) can never hand us a file we did not create, and no other
// user can read the plain text.
//
// A TempPath owns a path: the file under it is removed when the TempPath
// goes, whatever ends its scope, and also when a termination signal ends the
// program (signals.hpp).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signals.hpp"

namespace veltrano::platform {

class TempPath {
 public:
  explicit TempPath(std::string path) : path_(std::move(path)) { onSignal_.emplace(path_); }
  ~TempPath() { Remove(); }
  TempPath(const TempPath&) = delete;
  TempPath& operator=(const TempPath&) = delete;

  const std::string& path() const { return path_; }
  // Removes the file now, if it is there, and gives the path up: once it is
  // free, another process may take the same name, and that file is not ours.
  void Remove();

 private:
  std::string path_;
  std::optional<RemovedOnTermination> onSignal_;
};

// The first of `candidates` (empty ones skipped) that names an existing
// directory, else /tmp, else "." (the current directory).
std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates);

// Creates a new file in `directory` under the name rule above and writes
// `text` into it in text mode (every LF stored as CR LF). The file is owned
// from the moment it exists. Null when no name could be taken or the text
// could not be written whole (`error` then says why; a half-written file is
// removed again).
std::unique_ptr<TempPath> CreateTempTextFile(const std::string& directory, std::string_view text,
                                             std::string* error = nullptr);

// Removes a file; false when it did not exist or could not be removed.
bool RemoveFile(const std::string& path);

// True when `path` exists (as anything, a dangling symbolic link included).
bool PathExists(const std::string& path);

}  // namespace veltrano::platform
