// The FORMDATA section: entries, tokens, quotes and attributes.
#include <string>

#include "fuzz/fuzz_support.hpp"
#include "template/field_definitions.hpp"

using veltrano::fuzz::Fail;
using veltrano::fuzz::Request;
using veltrano::fuzz::RunStep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string section(reinterpret_cast<const char*>(data), size);
  Request r;
  if (RunStep([&] { veltrano::ParseFieldDefinitions(r.ctx, section); })) {
    // An accepted section has at least one entry, and each entry a name.
    if (r.ctx.fields.empty()) Fail();
    for (const veltrano::FormField& field : r.ctx.fields) {
      if (!field.name) Fail();
    }
    (void)veltrano::DumpFields(r.ctx.fields);
  }
  return 0;
}
