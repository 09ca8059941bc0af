// The SMTP reply reader's completion rule, fed the way the transport feeds
// it: the reply arrives in chunks of any size, and the reader is asked after
// each one whether the reply is complete.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "mail/smtp_client_internal.hpp"

using veltrano::CompleteReplyCode;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  constexpr std::size_t kMaxReply = 64 * 1024;  // the reader's own bound
  std::string reply;
  while (in.remaining_bytes() > 0 && reply.size() <= kMaxReply) {
    reply += in.ConsumeRandomLengthString(499);
    std::optional<int> code = CompleteReplyCode(reply);
    if (!code) continue;
    // A complete reply ends a line. Its code is -1 (not well formed), or a
    // code of 100 to 599 that begins every line, followed by '-' on every
    // line but the last, and by ' ' or the line end on the last.
    if (reply.empty() || reply.back() != '\n') std::abort();
    if (*code == -1) break;
    if (*code < 100 || *code > 599) std::abort();
    const std::string digits = std::to_string(*code);
    for (std::size_t at = 0; at < reply.size();) {
      std::size_t end = reply.find('\n', at);
      std::string_view line(reply.data() + at, end - at);
      if (line.ends_with('\r')) line.remove_suffix(1);
      const bool last = end + 1 == reply.size();
      if (!line.starts_with(digits)) std::abort();
      if (last ? line.size() > 3 && line[3] != ' ' : line.size() < 4 || line[3] != '-') {
        std::abort();
      }
      at = end + 1;
    }
    break;
  }
  return 0;
}
