#include "expand/placeholders.hpp"

namespace veltrano {

std::string ExpandPlaceholders(const RequestContext&, std::string_view text, Escaping) {
  return std::string(text);
}

}  // namespace veltrano
