// Checking submitted values against their field definitions.
// TODO(form): contract.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

// Reads the form, gives every field its value and checks it; when any field
// failed, writes the error page and ends the request.
void ValidateFields(RequestContext& ctx);

}  // namespace veltrano
