// $name$ placeholders in template texts and page files.
//
// Every "$" separates; a run of "$" separates once, and there is no escape
// for a literal "$" (one reaches the result only inside a replacement). The
// pieces between separators alternate: literal text, a name, literal text, ...
// A text that begins with "$" is given one leading space, so that its first
// piece is literal too.
//
// A name is replaced by, in this order: the value of a matching field (name
// compared without regard to ASCII case) that stands before every field with
// another name; else, tried once at the first field whose name differs,
// "systemtime" (hh:mm:ss) or "systemdate" (mm/dd/yy), exactly in lower case,
// or the environment variable of the upper-cased name; else the value of a
// later matching field. A name nothing answers to vanishes. The clock is read
// once per expansion.
//
// The result is bounded at kMaxExpandedLength characters, counted on what is
// appended (escaped replacements included); beyond it the request ends with
// the "Mail send error" page. Field and environment values are untrusted and
// are escaped for where the text goes (see Escaping); literal text never is.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// The longest expanded text, in characters. Mail bodies and pages built from
// one form submission never need more, and the bound keeps a runaway
// template or a flood of long values from growing a response without end.
inline constexpr std::size_t kMaxExpandedLength = 15359;

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
