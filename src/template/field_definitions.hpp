// The FORMDATA section's field entries.
// TODO(templates): contract.
#pragma once

#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// Parses `section` into ctx.fields; a malformed entry ends the request.
void ParseFieldDefinitions(RequestContext& ctx, std::string_view section);

}  // namespace veltrano
