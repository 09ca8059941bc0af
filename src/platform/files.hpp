// Files and directories. Every read goes through text mode (text_mode.hpp).
#pragma once

#include <optional>
#include <string>

namespace veltrano::platform {

// The whole of a regular file read in text mode, or none when it can't be
// opened or read (missing, a directory, no permission).
std::optional<std::string> ReadTextFile(const std::string& path);

// Makes `path` the current directory; false on failure.
bool ChangeDirectory(const std::string& path);

}  // namespace veltrano::platform
