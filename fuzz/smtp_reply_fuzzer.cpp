// The SMTP reply reader's completion rule, fed the way the socket feeds it:
// the reply arrives in chunks of any size, and the reader is asked after
// each one whether the reply is complete.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_support.hpp"
#include "mail/smtp_client.hpp"

using veltrano::SmtpClient;
using veltrano::fuzz::Fail;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  constexpr std::size_t kMaxReply = 64 * 1024;  // the reader's own bound
  std::string reply;
  while (in.remaining_bytes() > 0 && reply.size() <= kMaxReply) {
    reply += in.ConsumeRandomLengthString(499);
    std::optional<int> code = SmtpClient::CompleteReplyCode(reply);
    if (!code) continue;
    // A complete reply ends a line, and its last line is a final one.
    if (reply.empty() || reply.back() != '\n' || *code < 0) Fail();
    break;
  }
  return 0;
}
