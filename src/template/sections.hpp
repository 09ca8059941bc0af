// The tagged sections of a template.
//
// A section is the text between the first occurrence of its opening tag and
// the first occurrence of its closing tag, tags matched without regard to
// ASCII case, anywhere in the template (sections stand in any order, and a
// tag quoted inside another section counts). When that closing tag stands
// before the end of the opening tag, the closing tag is looked for again
// after the opening tag. The text is copied as it stands; ReadSections trims
// the sections whose content is a file name or header lines.
//
// A required section without either tag ends the request with the "Tag
// missing" page, which names the first missing tag; an absent optional
// section is none. Works on ctx.templateText only and trusts it to be the
// administrator's text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// The text between `openTag` and `closeTag` in the template, or none for an
// absent optional section. An absent required section ends the request with
// the "Tag missing" page.
std::optional<std::string> ExtractSection(const RequestContext& ctx, std::string_view openTag,
                                          std::string_view closeTag, bool required);

// Extracts every section up to and including FORMDATA into `ctx`, each only
// under its condition: the mail sections only with SMTPSERVER, DFILE
// TRUNCATE only without DFILE APPEND, DFILEFORMAT only with a data file.
// SUCCEEDMSGFILE is left to the end of the request.
void ReadSections(RequestContext& ctx);

}  // namespace veltrano
