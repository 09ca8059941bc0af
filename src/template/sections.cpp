#include "template/sections.hpp"

#include "response/response.hpp"

namespace veltrano {

std::optional<std::string> ExtractSection(const RequestContext&, std::string_view,
                                          std::string_view, bool) {
  return std::nullopt;
}

void ReadSections(RequestContext&) {}

}  // namespace veltrano
