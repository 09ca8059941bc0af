// Shell quoting of replacements in a command line. The invariant: a quoted
// replacement never changes the quote state. After each replacement the
// tracker that quoted it must agree with a fresh tracker that reads the
// whole command line so far as literal text; otherwise a value could have
// ended a quote or started one.
#include <fuzzer/FuzzedDataProvider.h>

#include "expand/shell_quote.hpp"
#include "fuzz/fuzz_support.hpp"

using veltrano::ShellQuoteState;
using veltrano::fuzz::Fail;

namespace {

// A replacement holding every byte that matters to the shell: two trackers
// in the same state quote it alike.
const std::string kProbe = std::string("a'\"`$\\\n#<;& (){}|*?~") + '\0' + "\t";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  ShellQuoteState state;
  std::string line;
  while (in.remaining_bytes() > 0) {
    std::string literal = in.ConsumeRandomLengthString(64);
    std::string value = in.ConsumeRandomLengthString(64);
    state.Literal(literal);
    line += literal;
    line += state.Quote(value);

    ShellQuoteState reread;
    reread.Literal(line);
    ShellQuoteState a = state, b = reread;
    if (a.Quote(kProbe) != b.Quote(kProbe)) Fail();
  }
  return 0;
}
