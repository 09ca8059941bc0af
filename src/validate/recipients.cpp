#include "validate/recipients.hpp"

#include "text/text.hpp"

namespace veltrano {

bool RecipientAllowed(std::string_view address, const std::vector<std::string>& entries) {
  const std::size_t at = address.rfind('@');
  for (const std::string& entry : entries) {
    if (entry.starts_with('@')) {
      if (at != std::string_view::npos && at > 0 && EqualsNoCase(address.substr(at), entry)) {
        return true;
      }
    } else if (EqualsNoCase(address, entry)) {
      return true;
    }
  }
  return false;
}

}  // namespace veltrano
