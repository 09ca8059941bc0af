// $name$ placeholders.
// TODO(form): contract.
#pragma once

#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// How replacements (field and environment values) are made safe for where
// the expanded text goes. Literal text is never changed.
enum class Escaping {
  kNone,   // mails and the data file
  kHtml,   // the success and error pages
  kShell,  // the external command line, quoted by where each one stands
};

std::string ExpandPlaceholders(const RequestContext& ctx, std::string_view text,
                               Escaping escaping = Escaping::kNone);

}  // namespace veltrano
