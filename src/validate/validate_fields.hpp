// Checking a submission against the template's field definitions.
//
// CheckSubmission gives every field its submitted value, trimmed of space,
// tab, CR and LF (none when not sent or sent empty), and checks it:
// CheckRequired, then CheckType, then the MAXLEN bound. Every field is
// checked; the caller shows the error page when any failed. A missing field
// gets no type check; a value that came in, even one that failed its type,
// is held to its bound. An ATTACH field's value is the cleaned name of the
// file the form kept for it (none without one: an empty file is none), and
// the file must pass AttachAccepts (validate/attachments.hpp); a file that
// does is the field's in Submission::files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form/form_input.hpp"
#include "model/fields.hpp"

namespace veltrano {

Submission CheckSubmission(const std::vector<FieldDefinition>& fields, const FormInput& form);

// A required field without a value, or with the empty value, is missing (an
// error); an optional field without a value is missing too, but that is no
// error: it only skips the type check.
FieldCheck CheckRequired(const FieldDefinition& field, const std::optional<std::string>& value);

// The type check of a value that is not missing:
//   INT    every character between '(' and '9' ( ( ) * + , - . / 0-9 );
//          the empty value passes
//   EMAIL  at least one '@' and one '.', anywhere
//   CC     the Luhn checksum of the value with its spaces removed, every
//          other non-digit counting as 0 in its place; the empty value passes
bool PassesType(FieldType type, std::string_view value);

// Whether `value` has at most `maxLength` characters: counted as characters
// when the value is valid UTF-8 (what a browser sends), as bytes otherwise,
// where no character boundaries are known. A line break a visitor typed
// arrives as CR LF and counts as two.
bool FitsLength(std::string_view value, std::size_t maxLength);

// The Luhn test as the CC check applies it.
bool PassesCardChecksum(std::string_view value);

}  // namespace veltrano
