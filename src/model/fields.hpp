// The form's fields: what the template declares of each (FieldDefinition),
// and what one submission brought for each and how it fared (Submission).
// Definitions, values and check results are kept apart; the three lists of a
// request run in parallel, in template order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// The TYPE attribute. The numbers are the codes the template format uses.
enum class FieldType : std::int32_t { kInt = 1, kNone = 2, kEmail = 3, kCreditCard = 4 };

struct FieldDefinition {
  std::string name;                        // NAME attribute
  std::optional<std::string> requiredErr;  // error-page line for a missing required value
  std::optional<std::string> typeErr;      // error-page line for a value failing its type check
  std::optional<std::string> pgpKeyId;     // key to encrypt this field's main mail for
  bool required = false;
  bool sendTo = false;     // the value receives the main mail
  bool respondTo = false;  // the value receives the response mail
  bool honeypot = false;   // must arrive empty: only robots fill it in
  FieldType type = FieldType::kNone;
  std::optional<std::size_t> maxLength{};     // longest value: characters of UTF-8, else bytes
  std::optional<std::string> maxLengthErr{};  // error-page line for a value over maxLength
  // ATTACH: a file input whose file goes with the main mails. The extensions
  // (lower case, without the dot) its file's name may end in.
  std::optional<std::vector<std::string>> attach{};
  std::optional<std::string> attachErr{};  // error-page line for a file ATTACH refuses
};

struct FieldCheck {
  bool isMissing = false;  // no value came in (for a required field, also an empty one)
  bool isInvalid = false;  // the value failed its type check
  bool isTooLong = false;  // the value is longer than maxLength
  bool isBadFile = false;  // the file's name or first bytes are not of an ATTACH type
};

// The submitted value of each field, trimmed; none when not sent or sent
// empty. Untrusted visitor text.
using FieldValues = std::vector<std::optional<std::string>>;

// The bytes of an uploaded file: a view into the request's body, which it
// keeps alive, so that a file is never copied on its way to the mails.
// Untrusted visitor bytes.
struct FileBytes {
  std::shared_ptr<const std::string> body;
  std::string_view bytes;
};

struct Submission {
  FieldValues values;  // an ATTACH field's value is its file's cleaned name
  std::vector<FieldCheck> checks;
  // The file of each ATTACH field that came with one ATTACH accepts; none
  // for every other field. Empty when there is none at all.
  std::vector<std::optional<FileBytes>> files{};
  bool hasFieldErrors = false;
};

}  // namespace veltrano
