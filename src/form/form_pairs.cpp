#include "form/form_pairs.hpp"

namespace veltrano {

void AppendFormValue(std::vector<FormPair>& pairs, std::string_view name,
                     std::optional<std::string> value) {
  // A pair whose value is none was ended by an empty value.
  if (pairs.empty() || !pairs.back().value || pairs.back().name != name) {
    pairs.push_back({std::string(name), std::nullopt});
  }
  FormPair& current = pairs.back();
  if (!value) {
    current.value.reset();
  } else if (current.value) {
    *current.value += ", ";
    *current.value += *value;
  } else {
    current.value = std::move(value);
  }
}

}  // namespace veltrano
