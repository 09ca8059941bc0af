#include "validate/recipients.hpp"

#include "text/address.hpp"
#include "text/text.hpp"

namespace veltrano {

bool RecipientAllowed(std::string_view address, const std::vector<std::string>& entries) {
  if (!IsPlainAddress(address)) return false;
  const std::size_t at = address.find('@');
  const bool routesOn = RoutesOn(address);
  for (const std::string& entry : entries) {
    if (entry.starts_with('@')) {
      if (!routesOn && EqualsNoCase(address.substr(at), entry)) return true;
    } else if (EqualsNoCase(address, entry)) {
      return true;
    }
  }
  return false;
}

bool EntryCanMatch(std::string_view entry) {
  // A domain entry matches the addresses of its domain.
  if (entry.starts_with('@')) return IsPlainAddress("x" + std::string(entry));
  return IsPlainAddress(entry);
}

}  // namespace veltrano
