// The EXECUTE command of an accepted submission.
// TODO(outputs): contract.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

void RunExternalProgram(RequestContext& ctx);

}  // namespace veltrano
