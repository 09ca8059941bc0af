// A template cut into its sections, then every section expanded with field
// values and environment values from the input, in all three escapings.
#include <fuzzer/FuzzedDataProvider.h>

#include "expand/placeholders.hpp"
#include "fuzz/fuzz_support.hpp"
#include "template/sections.hpp"

using veltrano::Escaping;
using veltrano::fuzz::Fail;
using veltrano::fuzz::Request;
using veltrano::fuzz::RunStep;

namespace {

void ExpandAll(const veltrano::RequestContext& ctx, const std::string& text) {
  for (Escaping escaping : {Escaping::kNone, Escaping::kHtml, Escaping::kShell}) {
    RunStep([&] {
      std::string out = veltrano::ExpandPlaceholders(ctx, text, escaping);
      if (out.size() > veltrano::kMaxExpandedLength) Fail();
      // Escaped for a page, no replacement may bring in markup.
      if (escaping == Escaping::kHtml && text.find_first_of("<>") == std::string::npos &&
          out.find_first_of("<>") != std::string::npos) {
        Fail();
      }
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Request r;
  // A few fields and environment variables for the placeholders to find.
  const int fields = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < fields; ++i) {
    veltrano::FormField field;
    field.name = in.ConsumeRandomLengthString(16);
    if (in.ConsumeBool()) field.value = in.ConsumeRandomLengthString(64);
    r.ctx.fields.push_back(field);
  }
  const int vars = in.ConsumeIntegralInRange(0, 2);
  for (int i = 0; i < vars; ++i) {
    std::string name = in.ConsumeRandomLengthString(16);
    r.fake.env.vars[name] = in.ConsumeRandomLengthString(64);
  }
  r.ctx.templateText = in.ConsumeRemainingBytesAsString();

  RunStep([&] { veltrano::ReadSections(r.ctx); });
  std::optional<std::string> success;
  RunStep([&] {
    success = veltrano::ExtractSection(r.ctx, "<SUCCEEDMSGFILE>", "</SUCCEEDMSGFILE>", true);
  });
  for (const std::optional<std::string>* text :
       {&r.ctx.messageBody, &r.ctx.subject, &r.ctx.sender, &r.ctx.responseBody,
        &r.ctx.responseSubject, &r.ctx.executeCommand, &r.ctx.dataFileFormat, &success}) {
    if (*text) ExpandAll(r.ctx, **text);
  }
  // The whole template as one text too: it holds every kind of piece.
  ExpandAll(r.ctx, r.ctx.templateText);
  return 0;
}
