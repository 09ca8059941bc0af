#include "validate/validate_fields.hpp"

namespace veltrano {

void ValidateFields(RequestContext&) {}

}  // namespace veltrano
