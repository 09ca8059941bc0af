#include "outputs/data_file.hpp"

namespace veltrano {

void WriteDataFile(RequestContext&) {}

}  // namespace veltrano
