// Checking submitted values against their field definitions.
//
// ValidateFields reads the form (form/form_input.hpp, method "POST"), gives
// every field of ctx.fields its submitted value, trimmed of space, tab, CR
// and LF (none when not sent or sent empty), and checks it: CheckRequired,
// then CheckType. Every field is checked; when any failed, ShowErrorPage
// lists them all and ends the request, so ValidateFields returns only when
// every field passed. Problems with the submission itself (method, length,
// escapes) end the request while the form is read.
//
// After the checks, isMissing means no value came in (for a required field,
// also an empty one) and isInvalid that the value failed its type check; a
// missing field gets no type check. A field without a name finds no value.
#pragma once

#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

void ValidateFields(RequestContext& ctx);

// A required field without a value, or with the empty value, is missing and
// an error; an optional field without a value is missing but no error.
void CheckRequired(RequestContext& ctx, FormField& field);

// The type check of a field that is not missing:
//   INT    every character between '(' and '9' ( ( ) * + , - . / 0-9 );
//          the empty value passes
//   EMAIL  at least one '@' and one '.', anywhere
//   CC     the Luhn checksum of the value with its spaces removed, every
//          other non-digit counting as 0 in its place; the empty value passes
void CheckType(RequestContext& ctx, FormField& field);

// The Luhn test as CheckType applies it to a CC value.
bool PassesCardChecksum(std::string_view value);

}  // namespace veltrano
