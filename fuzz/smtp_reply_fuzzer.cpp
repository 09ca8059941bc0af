// The SMTP reply reader's completion rule, fed the way the transport feeds
// it: the reply arrives in chunks of any size, and the reader is asked after
// each one whether the reply is complete.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "mail/smtp_client_internal.hpp"

using veltrano::CompleteReplyCode;

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The last line of a reply that ends with LF, without its line end.
std::string_view LastLine(std::string_view reply) {
  reply.remove_suffix(1);
  std::size_t start = reply.rfind('\n');
  return start == std::string_view::npos ? reply : reply.substr(start + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  constexpr std::size_t kMaxReply = 64 * 1024;  // the reader's own bound
  std::string reply;
  while (in.remaining_bytes() > 0 && reply.size() <= kMaxReply) {
    reply += in.ConsumeRandomLengthString(499);
    std::optional<int> code = CompleteReplyCode(reply);
    if (!code) continue;
    // A complete reply ends a line; its code is a number read from a final
    // line that begins with three digits, and -1 for any other final line.
    if (reply.empty() || reply.back() != '\n' || *code < -1) std::abort();
    std::string_view line = LastLine(reply);
    std::size_t i = line.find_first_not_of(" -");
    const bool threeDigits = i != std::string_view::npos && line.size() >= i + 3 &&
                             IsDigit(line[i]) && IsDigit(line[i + 1]) && IsDigit(line[i + 2]);
    if ((*code >= 0) != threeDigits) std::abort();
    break;
  }
  return 0;
}
