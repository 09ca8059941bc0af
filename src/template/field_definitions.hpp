// The FORMDATA section's field entries.
//
// An entry is the text between a '<' and the next '>'. The scanner passes
// over a run of '<' and then everything up to and including the next '<'
// before it takes an entry, so an entry whose '<' directly follows the
// section start or the previous entry's '>' is skipped; templates are
// written with one entry per line for that reason. Within an entry, tokens
// are separated by spaces and LFs, a space inside double quotes belongs to
// the token, a tab is an ordinary character, and tokens of one character or
// none are dropped. Every token is offered to the attribute handlers
// (sendto, respondto, NAME, required, honeypot, REQUIREDERR, TYPE, TYPEERR,
// PGP), in that order, each of which looks for its keyword anywhere in the
// token; a later value replaces an earlier one. A token that starts with
// MAXLEN=, MAXLENERR=, ATTACH= or ATTACHERR= is only that: MAXLEN="N" (N a
// positive decimal number) bounds the value's length, MAXLENERR="text" is
// the error-page line for a longer value; ATTACH="pdf docx" (extensions of
// letters and digits, separated by spaces) makes the field a file input
// whose file goes with the main mails, ATTACHERR="text" is the error-page
// line for a file of another type.
//
// A malformed entry gives a template failure that names the entry, the token
// or the field: a lone double quote, an attribute without its quote, a
// MAXLEN that is not a quoted positive number, an ATTACH without a quoted
// list of such extensions, HTML in an error text, sendto together with
// respondto, required, TYPE, MAXLEN or ATTACH without their error texts, an
// entry without NAME, or a section without any entry.
// A token with three or more double quotes counts as one with two. Entries
// and tokens have no size limit: the section is already in memory.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/fields.hpp"
#include "model/result.hpp"

namespace veltrano {

// One definition per entry, in template order.
Result<std::vector<FieldDefinition>> ParseFieldDefinitions(std::string_view section);

// Each entry's definition or failure, in template order, so that every bad
// entry can be reported (ParseFieldDefinitions stops at the first); a
// failure that names nothing else names the whole entry. Empty for a
// section without entries.
std::vector<Result<FieldDefinition>> ParseFieldEntries(std::string_view section);

// One line per field with its attributes, for tests and diagnostics, e.g.
//   name="email" required requiredErr="Give" type=EMAIL typeErr="Bad" maxLen=9 maxLenErr="Long"
//   name="cv" attach="pdf docx" attachErr="A PDF or Word file, please"
std::string DumpFields(const std::vector<FieldDefinition>& fields);

}  // namespace veltrano
