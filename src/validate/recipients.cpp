#include "validate/recipients.hpp"

#include "text/address.hpp"
#include "text/text.hpp"

namespace veltrano {

bool RecipientAllowed(std::string_view address, const std::vector<std::string>& entries) {
  if (!IsPlainAddress(address)) return false;
  const std::size_t at = address.find('@');
  // Percent and bang paths name another host inside the local part.
  const bool routesOn = address.substr(0, at).find_first_of("%!") != std::string_view::npos;
  for (const std::string& entry : entries) {
    if (entry.starts_with('@')) {
      if (!routesOn && EqualsNoCase(address.substr(at), entry)) return true;
    } else if (EqualsNoCase(address, entry)) {
      return true;
    }
  }
  return false;
}

}  // namespace veltrano
