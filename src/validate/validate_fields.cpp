#include "validate/validate_fields.hpp"

#include <algorithm>
#include <unordered_map>

#include "text/file_names.hpp"
#include "text/text.hpp"
#include "validate/attachments.hpp"

namespace veltrano {

namespace {

bool PassesInt(std::string_view value) {
  // The range begins at '(' so that signs, points, brackets and the other
  // arithmetic characters pass as well as digits.
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= '(' && c <= '9'; });
}

bool PassesEmail(std::string_view value) {
  return value.find('@') != std::string_view::npos && value.find('.') != std::string_view::npos;
}

// The file the form kept for a file field (ReadForm keeps one at most).
const UploadedFile* FileOf(const FieldDefinition& field, const FormInput& form) {
  for (const UploadedFile& file : form.files) {
    if (EqualsNoCase(file.field, field.name)) return &file;
  }
  return nullptr;
}

}  // namespace

bool PassesCardChecksum(std::string_view value) {
  int sum = 0;
  bool doubled = false;  // the last character is position 1, not doubled
  for (auto it = value.rbegin(); it != value.rend(); ++it) {
    char c = *it;
    if (c == ' ') continue;
    int digit = (c >= '0' && c <= '9') ? c - '0' : 0;
    if (doubled) {
      digit *= 2;
      if (digit > 9) digit -= 9;
    }
    sum = (sum + digit) % 10;
    doubled = !doubled;
  }
  return sum == 0;
}

bool FitsLength(std::string_view value, std::size_t maxLength) {
  // Every character takes at least one byte, so a value within the bound in
  // bytes needs no count.
  return value.size() <= maxLength || CharacterCount(value) <= maxLength;
}

bool PassesType(FieldType type, std::string_view value) {
  switch (type) {
    case FieldType::kInt:
      return PassesInt(value);
    case FieldType::kEmail:
      return PassesEmail(value);
    case FieldType::kCreditCard:
      return PassesCardChecksum(value);
    case FieldType::kNone:
      return true;
  }
  return true;
}

FieldCheck CheckRequired(const FieldDefinition& field, const std::optional<std::string>& value) {
  FieldCheck check;
  check.isMissing = field.required ? !value || value->empty() : !value;
  return check;
}

Submission CheckSubmission(const std::vector<FieldDefinition>& fields, const FormInput& form) {
  // The first pair of each name, letters compared without regard to case,
  // as a lookup would find it: one pass over the pairs instead of one per
  // field, so a form with many fields costs no more per field.
  std::unordered_map<std::string, const FormPair*> firstPair;
  firstPair.reserve(form.pairs.size());
  for (const FormPair& pair : form.pairs) firstPair.emplace(AsciiUpper(pair.name), &pair);
  Submission s;
  s.values.reserve(fields.size());
  s.checks.reserve(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldDefinition& field = fields[i];
    std::optional<std::string> value;
    const UploadedFile* file = nullptr;
    if (field.attach) {
      // A file field's value is its file's cleaned name, never a text.
      file = FileOf(field, form);
      if (file) value = CleanFileName(file->fileName);
    } else if (auto found = firstPair.find(AsciiUpper(field.name)); found != firstPair.end()) {
      value = found->second->value;
      Trim(value);
    }
    FieldCheck check = CheckRequired(field, value);
    check.isInvalid = !check.isMissing && !PassesType(field.type, *value);
    check.isTooLong = value && field.maxLength && !FitsLength(*value, *field.maxLength);
    check.isBadFile = file && !AttachAccepts(*field.attach, *value, file->content.bytes);
    if (file && !check.isBadFile) {
      s.files.resize(fields.size());
      s.files[i] = file->content;
    }
    s.hasFieldErrors = s.hasFieldErrors || (field.required && check.isMissing) || check.isInvalid ||
                       check.isTooLong || check.isBadFile;
    s.values.push_back(std::move(value));
    s.checks.push_back(check);
  }
  return s;
}

}  // namespace veltrano
