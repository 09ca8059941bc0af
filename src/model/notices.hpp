// Outputs a request skips or that fail without ending it: each becomes one
// line of the administrator's log (response/ words it), while the visitor's
// page stays as it is. Phases report them as they happen through a Notices
// sink that the request driver provides.
#pragma once

#include <cstddef>
#include <string>

namespace veltrano {

enum class NoticeKind {
  kMailWithoutServer,   // detail: what asks for mail although SMTPSERVER is missing
  kEmptyRecipient,      // detail: the sendto or respondto field's name
  kDataFileNotWritten,  // detail: path and OS error
  kCommandFailed,       // detail: how the EXECUTE command ended
  kHoneypotFilled,      // detail: the trap field's name and the client address
  kRateLimitUnusable,   // detail: the state file and why; the submission went through
  kRateLimitRepaired,   // detail: the state file and how many unreadable lines went
  kFileDropped,         // detail: the first file's field, how many more (never a file's name)
  kReplyToInvalid,      // detail: the expanded REPLYTO, which is no usable address
  kLongLineKept,        // detail: which mail, how long its longest body line
  kRcptRefused,         // detail: server, RCPT TO and the reply; the mail went on without it
  kResponseFailed,      // detail: address, server, command and reply; the request went on
  kAliasFileUnusable,   // detail: the alias file's path and why; names are used as written
  kFailurePageNotUsed,  // detail: why FATALMSGFILE could not be made; the built-in page went out
  kLogLinesDropped,     // detail: how many notices of the request were not logged; the last kind
};

// How many kinds there are; the catalogue words each one.
inline constexpr std::size_t kNoticeKindCount =
    static_cast<std::size_t>(NoticeKind::kLogLinesDropped) + 1;

class Notices {
 public:
  virtual ~Notices() = default;
  virtual void Note(NoticeKind kind, std::string detail) = 0;
};

}  // namespace veltrano
