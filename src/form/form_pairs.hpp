// The name/value pairs a form body gives, whatever its format, and the one
// rule that joins a name's values. form_input.hpp reads URL-encoded bodies
// into them, multipart.hpp multipart/form-data bodies. Everything here is
// untrusted visitor text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

struct FormPair {
  std::string name;                  // as sent, undecoded
  std::optional<std::string> value;  // decoded; none when sent as "name=" with nothing after
};

// Adds one submitted value to `pairs` the way every body format joins them:
// a name sent again right after itself (same bytes) adds ", " and the value
// to that pair; an empty value (none) drops what the pair held, and the name
// after it always starts a new pair.
void AppendFormValue(std::vector<FormPair>& pairs, std::string_view name,
                     std::optional<std::string> value);

}  // namespace veltrano
