// The error page and the success page.
// TODO(form): contract.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

[[noreturn]] void ShowErrorPage(RequestContext& ctx);
void ShowSuccessPage(RequestContext& ctx);

}  // namespace veltrano
