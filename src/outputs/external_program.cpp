#include "outputs/external_program.hpp"

namespace veltrano {

void RunExternalProgram(RequestContext&) {}

}  // namespace veltrano
