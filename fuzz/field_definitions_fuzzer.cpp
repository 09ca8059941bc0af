// The FORMDATA section: entries, tokens, quotes and attributes.
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "template/field_definitions.hpp"

using veltrano::FieldDefinition;
using veltrano::FieldType;
using veltrano::fuzz::Fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string section(reinterpret_cast<const char*>(data), size);
  veltrano::Result<std::vector<FieldDefinition>> fields = veltrano::ParseFieldDefinitions(section);
  if (!fields) return 0;
  // An accepted section has an entry, and no entry lacks the texts its
  // checks show, bounds its value at zero, is both a sendto and a respondto
  // field, or takes files of no extension or of one but lower-case letters
  // and digits.
  if (fields->empty()) Fail();
  for (const FieldDefinition& field : *fields) {
    if (field.required && !field.requiredErr) Fail();
    if (field.type != FieldType::kNone && !field.typeErr) Fail();
    if (field.maxLength && (*field.maxLength == 0 || !field.maxLengthErr)) Fail();
    if (field.sendTo && field.respondTo) Fail();
    if (field.attach && (field.attach->empty() || !field.attachErr)) Fail();
    for (const std::string& extension : field.attach.value_or(std::vector<std::string>{})) {
      for (char c : extension) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) Fail();
      }
    }
  }
  (void)veltrano::DumpFields(*fields);
  return 0;
}
