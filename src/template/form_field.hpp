// One field definition of a template's FORMDATA section, with the value the
// visitor submitted for it and the results of its checks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrano {

// The TYPE attribute. The numbers are the codes the template format uses.
enum class FieldType : std::int32_t { kInt = 1, kNone = 2, kEmail = 3, kCreditCard = 4 };

struct FormField {
  std::optional<std::string> name;         // NAME attribute
  std::optional<std::string> requiredErr;  // error-page line for a missing required value
  std::optional<std::string> value;        // submitted value, trimmed; none when not sent or empty
  std::optional<std::string> typeErr;      // error-page line for a value failing its type check
  std::optional<std::string> pgpKeyId;     // key to encrypt this field's main mail for
  bool required = false;
  bool sendTo = false;     // the value receives the main mail
  bool respondTo = false;  // the value receives the response mail
  bool isMissing = false;
  FieldType type = FieldType::kNone;
  bool isInvalid = false;
};

}  // namespace veltrano
