// The tagged sections of a template.
// TODO(templates): contract.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// The text between the first `openTag` and the first `closeTag` of the
// template, or none for an absent optional section. An absent required
// section ends the request with the "Tag missing" page.
std::optional<std::string> ExtractSection(const RequestContext& ctx, std::string_view openTag,
                                          std::string_view closeTag, bool required);

// Extracts every section up to and including FORMDATA into `ctx`.
void ReadSections(RequestContext& ctx);

}  // namespace veltrano
