// Temporary files for the PGP bridge.
//
// Each encryption makes a directory of its own (TempDirectory) inside the
// chosen temporary directory: made by mkdtemp, so its name is new and
// unpredictable, with mode 0700, so no other user can read, create, replace
// or link anything in it. Its files are `kov<N>`, N the first free number
// from 1, created with O_CREAT|O_EXCL|O_NOFOLLOW and mode 0600, and the
// `kov<N>.asc` that pgp writes beside it. Since nobody else can put a name
// there, a planted or stale .asc, or a link where pgp will write, can't
// exist, and there is no check of the .asc and no race with one to reason
// about; another request makes another directory.
//
// A TempPath owns a path: the file under it is removed when the TempPath
// goes, whatever ends its scope, and also when a termination signal ends the
// program (signals.hpp). A TempDirectory goes the same ways, with whatever
// is still in it (on a signal: once its registered files are gone).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/signals.hpp"
#include "platform/system.hpp"

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

class TempDirectory {
 public:
  // A new directory inside `parent`; null when none can be made (`error`
  // then says why).
  static std::unique_ptr<TempDirectory> Create(const std::string& parent,
                                               std::string* error = nullptr);
  // Removes the directory with everything in it.
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  explicit TempDirectory(std::string path)
      : path_(std::move(path)), onSignal_(path_, RemovedOnTermination::Kind::kDirectory) {}

  std::string path_;
  RemovedOnTermination onSignal_;
};

// The temporary-directory variables, each read by TempDirectoryCandidates.
inline constexpr std::string_view kTempDirectoryVariables[] = {"TMP", "TEMP", "temp", "TMPDIR"};

// The temporary-directory variables in the order they count: $TMP, $TEMP
// (or $temp), $TMPDIR.
std::vector<std::optional<std::string>> TempDirectoryCandidates(const Environment& env);

// The first of `candidates` (empty ones skipped) that names an existing
// directory, else /tmp, else "." (the current directory).
std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates);

// Creates a new file in `directory` under the name rule above and writes
// `texts`, one after the other, into it in text mode (every LF stored as CR
// LF), a piece at a time: a large text is never copied whole. The file is
// owned from the moment it exists. Null when no name could be taken or the
// text could not be written whole (`error` then says why; a half-written
// file is removed again).
std::unique_ptr<TempPath> CreateTempTextFile(const std::string& directory,
                                             const std::vector<std::string_view>& texts,
                                             std::string* error = nullptr);
inline std::unique_ptr<TempPath> CreateTempTextFile(const std::string& directory,
                                                    std::string_view text,
                                                    std::string* error = nullptr) {
  return CreateTempTextFile(directory, std::vector<std::string_view>{text}, error);
}

// Removes a file; false when it did not exist or could not be removed.
bool RemoveFile(const std::string& path);

// True when `path` exists (as anything, a dangling symbolic link included).
bool PathExists(const std::string& path);

}  // namespace veltrano::platform
