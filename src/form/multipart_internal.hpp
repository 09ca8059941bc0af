// Parts of multipart.cpp that its tests reach directly.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// The value of parameter `name` (letters compared without regard to case) in
// a header value such as `form-data; name="a"; filename=b`, or none. A quoted
// value runs to the next '"': browsers send a '"' in a name as %22.
std::optional<std::string> HeaderParameter(std::string_view value, std::string_view name);

}  // namespace veltrano
