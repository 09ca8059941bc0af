// References to replacements in a command line. The input is cut into
// pieces: literal text, a value, literal text, a value, ... The literal text
// holds no "$", as placeholder expansion gives it (a "$" always separates).
// The invariants: the command text never holds a byte of a value, only
// references to it (built once with every value made of a byte that the
// literal text and the references never hold, that byte must not occur in
// it); the text is the same whatever the values; and the environment holds
// each value unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include "expand/shell_references.hpp"
#include "fuzz/fuzz_support.hpp"

using veltrano::ShellReferences;
using veltrano::fuzz::Fail;

namespace {

constexpr std::string_view kReferenceBytes = "${}VELTRANO_U0123456789\"'\\\n";

std::string Build(const std::vector<std::string>& literals, const std::vector<std::string>& values,
                  ShellReferences& refs) {
  std::string out;
  for (std::size_t i = 0; i < literals.size(); ++i) {
    refs.Literal(literals[i], out);
    if (i < values.size()) refs.Replacement(values[i], out);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<std::string> literals, values;
  while (in.remaining_bytes() > 0) {
    literals.push_back(in.ConsumeRandomLengthString(64));
    std::erase(literals.back(), '$');
    values.push_back(in.ConsumeRandomLengthString(64));
  }

  ShellReferences refs;
  const std::string command = Build(literals, values, refs);
  if (refs.environment().size() != values.size()) Fail();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (refs.environment()[i].first != "VELTRANO_VALUE_" + std::to_string(i + 1) ||
        refs.environment()[i].second != values[i]) {
      Fail();
    }
  }

  std::string used(kReferenceBytes);
  for (const std::string& literal : literals) used += literal;
  int probe = 0;
  while (probe < 256 && used.find(static_cast<char>(probe)) != std::string::npos) ++probe;
  if (probe == 256) return 0;
  std::vector<std::string> probes;
  for (const std::string& value : values) {
    probes.push_back(std::string(std::max<std::size_t>(value.size(), 1), static_cast<char>(probe)));
  }
  ShellReferences probeRefs;
  const std::string probed = Build(literals, probes, probeRefs);
  if (probed.find(static_cast<char>(probe)) != std::string::npos) Fail();
  if (probed != command) Fail();
  return 0;
}
