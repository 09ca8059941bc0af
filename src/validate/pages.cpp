#include "validate/pages.hpp"

#include "response/response.hpp"

namespace veltrano {

void ShowErrorPage(RequestContext&) { EndRequest(); }

void ShowSuccessPage(RequestContext&) {}

}  // namespace veltrano
