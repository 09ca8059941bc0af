// Files and directories. Every read goes through text mode (text_mode.hpp).
#pragma once

#include <optional>
#include <string>

namespace veltrano::platform {

// The whole of a regular file read in text mode, or none when it can't be
// opened or read (missing, a directory, a FIFO, no permission); `error`, when
// given, then says why, for the administrator's log. Never waits on a FIFO.
std::optional<std::string> ReadTextFile(const std::string& path, std::string* error = nullptr);

// True when `a` and `b` name one file: the same file when both exist
// (symbolic links followed), else the same name in the same directory.
bool SameFile(const std::string& a, const std::string& b);

// Makes `path` the current directory; false on failure.
bool ChangeDirectory(const std::string& path);

// The operating system's text for an errno value, e.g. "No such file or
// directory".
std::string ErrorText(int error);

}  // namespace veltrano::platform
