// Parts of aliases.cpp that its tests reach directly.
#pragma once

#include <string>
#include <string_view>

namespace veltrano {

// The alias file's path in `workingDirectory`; the file name alone for an
// empty one (the current directory).
std::string AliasFilePath(std::string_view workingDirectory);

}  // namespace veltrano
