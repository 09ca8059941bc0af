#include "expand/shell_quote.hpp"

namespace veltrano {

void ShellQuoteState::Literal(std::string_view) {}

std::string ShellQuoteState::Quote(std::string_view replacement) const {
  return std::string(replacement);
}

}  // namespace veltrano
