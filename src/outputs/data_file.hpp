// The data file line of an accepted submission.
// TODO(outputs): contract.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

void WriteDataFile(RequestContext& ctx);

}  // namespace veltrano
