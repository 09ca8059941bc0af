// A template cut into its sections, then every section expanded with field
// values and environment values from the input, for every place a text goes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <type_traits>

#include "expand/escapers.hpp"
#include "expand/placeholders.hpp"
#include "expand/shell_references.hpp"
#include "fuzz/fuzz_support.hpp"
#include "template/sections.hpp"

using veltrano::PlaceholderValues;
using veltrano::Result;
using veltrano::fuzz::Fail;

namespace {

// The bytes that a command text may hold beyond its literal text: those of
// a reference (expand/shell_references.hpp), and the space that a text
// beginning with a placeholder gets.
constexpr std::string_view kReferenceBytes = "${}VELTRANO_U0123456789\"'\\\n ";

std::size_t Count(std::string_view text, char c) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

template <typename Escaper>
Result<std::string> Expand(const std::string& text, const PlaceholderValues& values) {
  Escaper escaper;
  Result<std::string> out = veltrano::ExpandPlaceholders(text, values, escaper);
  if (!out && out.failure().kind != veltrano::FailureKind::kExpansionTooLong) Fail();
  if (out && out->size() > veltrano::kMaxExpandedLength &&
      !std::is_same_v<Escaper, veltrano::ShellReferences>) {
    Fail();
  }
  return out;
}

void ExpandAll(const std::string& text, const PlaceholderValues& values) {
  (void)Expand<veltrano::PlainText>(text, values);
  // A page: no replacement brings in markup.
  Result<std::string> page = Expand<veltrano::HtmlPage>(text, values);
  if (page && text.find_first_of("<>") == std::string::npos &&
      page->find_first_of("<>") != std::string::npos) {
    Fail();
  }
  // A data record: no replacement adds a line.
  Result<std::string> record = Expand<veltrano::DataRecord>(text, values);
  if (record &&
      (Count(*record, '\n') > Count(text, '\n') || Count(*record, '\r') > Count(text, '\r'))) {
    Fail();
  }
  // A command: no byte of a replacement, only references to it.
  Result<std::string> command = Expand<veltrano::ShellReferences>(text, values);
  if (command) {
    for (char c : *command) {
      if (text.find(c) == std::string::npos && kReferenceBytes.find(c) == std::string::npos) Fail();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // A few fields and environment variables for the placeholders to find.
  std::vector<veltrano::FieldDefinition> fields;
  veltrano::FieldValues values;
  const int count = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < count; ++i) {
    fields.emplace_back().name = in.ConsumeRandomLengthString(16);
    values.emplace_back();
    if (in.ConsumeBool()) values.back() = in.ConsumeRandomLengthString(64);
  }
  veltrano::testing::MapEnvironment env;
  const int vars = in.ConsumeIntegralInRange(0, 2);
  for (int i = 0; i < vars; ++i) {
    std::string name = in.ConsumeRandomLengthString(16);
    env.vars[name] = in.ConsumeRandomLengthString(64);
  }
  veltrano::testing::FixedClock clock;
  const PlaceholderValues lookup(fields, values, env, clock);
  const std::string text = in.ConsumeRemainingBytesAsString();

  // The whole template as one text too: it holds every kind of piece.
  std::vector<std::string> texts{text};
  if (Result<veltrano::Template> t = veltrano::ReadSections({"t.tpl", text}); t) {
    if (t->mail) {
      texts.insert(texts.end(), {t->mail->sender, t->mail->subject, t->mail->messageBody});
    }
    for (const auto* section : {&t->responseSubject, &t->responseBody, &t->executeCommand}) {
      if (*section) texts.push_back(**section);
    }
    if (t->dataFile && t->dataFile->format) texts.push_back(*t->dataFile->format);
  }
  Result<std::optional<std::string>> success =
      veltrano::ExtractSection(text, "<SUCCEEDMSGFILE>", "</SUCCEEDMSGFILE>", true);
  if (success && *success) texts.push_back(**success);
  for (const std::string& t : texts) ExpandAll(t, lookup);
  return 0;
}
