// Files and directories. Every read goes through text mode (text_mode.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrano::platform {

// The whole of a regular file read in text mode, or none when it can't be
// opened or read (missing, a directory, a FIFO, no permission) or when its
// text runs past `maxBytes` (then "too large, over N bytes", and no more of
// it is read); `error`, when given, then says why, for the administrator's
// log. Never waits on a FIFO.
std::optional<std::string> ReadTextFile(const std::string& path, std::string* error = nullptr,
                                        std::size_t maxBytes = SIZE_MAX);

// True when `a` and `b` name one file: the same file when both exist
// (symbolic links followed), else the same name in the same directory.
bool SameFile(const std::string& a, const std::string& b);

// The names in the directory `path` ("." and ".." left out), at most
// `maxEntries` of them; none when it can't be read.
std::optional<std::vector<std::string>> ListDirectory(const std::string& path,
                                                      std::size_t maxEntries);

// Makes `path` the current directory; false on failure, with `error`, when
// given, saying why.
bool ChangeDirectory(const std::string& path, std::string* error = nullptr);

// The operating system's text for an errno value, e.g. "No such file or
// directory".
std::string ErrorText(int error);

}  // namespace veltrano::platform
