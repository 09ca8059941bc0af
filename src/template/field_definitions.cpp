#include "template/field_definitions.hpp"

namespace veltrano {

void ParseFieldDefinitions(RequestContext&, std::string_view) {}

}  // namespace veltrano
