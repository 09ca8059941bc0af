// Why a request ended early: a kind and its details, as a value.
//
// Every phase returns its failures instead of writing anything; the request
// driver hands them to response/, whose catalogue turns each kind into the
// visitor's page (title and message) and into one line of the
// administrator's log. `text` is what the page shows of the case (a tag, a
// template entry, an address, the name shown after an alias); whether it is
// shown as it stands or HTML-escaped is the catalogue's decision, by kind.
// `detail` is for the log only: file path and OS error, SMTP server, refused
// command and reply. SMTP failures carry the conversation so far.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace veltrano {

enum class FailureKind {
  // Start-up
  kWrongProgramName,  // the program's path does not hold "veltrano2.exe"
  kNoCgiEnvironment,  // REQUEST_METHOD unset: started by hand, gets a console message
  kOutOfResources,    // memory exhausted (std::bad_alloc)
  kUnexpected,        // any other exception; detail: its what()
  // Template
  kNoTemplateName,
  kTemplateNameRefused,   // absolute, or holding ".."
  kAliasWithoutFileName,  // text: the name shown after the arrow
  kTemplateUnreadable,
  kTagMissing,  // text: the tag without its angle brackets, e.g. "/SENDER"
  kNoFieldEntry,
  kMissingClosingQuote,  // text: the whole entry
  kBadNameLine,          // text: the token
  kBadRequiredErrLine,   // text: the token
  kBadTypeErrLine,       // text: the token
  kBadMaxLenLine,        // text: the token
  kBadMaxLenErrLine,     // text: the token
  kBadAttachLine,        // text: the token
  kBadAttachErrLine,     // text: the token
  kHtmlInErrorText,      // text: the field's name, or "(null)"
  kSendToWithRespondTo,
  kRequiredWithoutText,  // text: the field's name, or "(null)"
  kTypeWithoutText,      // text: the field's name, or "(null)"
  kMaxLenWithoutText,    // text: the field's name, or "(null)"
  kAttachWithoutText,    // text: the field's name, or "(null)"
  kEntryWithoutName,     // text: the whole entry
  kBadRateLimit,         // text: the RATELIMIT section
  kSenderNotAddress,     // text: a SENDER without placeholders, trimmed
  kStateFileIsDataFile,  // RATELIMIT's state file is DFILE (or its lock or temporary file)
  kBadMaxUpload,         // text: the MAXUPLOAD section
  kBadPgpMime,           // text: the PGPMIME section
  kBadAllowOrigin,       // text: the first entry of ALLOWORIGIN that is no origin
  kBadSucceedUrl,        // text: SUCCEEDURL, trimmed
  // Form
  kNotPost,
  kNoContentLength,
  kNegativeContentLength,
  kBodyTooLarge,  // CONTENT_LENGTH over the limit, or the kept files over MAXUPLOAD
  kShortBody,     // fewer bytes than CONTENT_LENGTH arrived
  kInvalidEscape,
  kMalformedMultipart,  // detail: what breaks the multipart/form-data framing
  kTooManySubmissions,  // over the RATELIMIT
  // Pages and expansion
  kErrorPageUnreadable,
  kErrorPageTooLarge,
  kSuccessPageUnreadable,
  kFailurePageUnreadable,
  kExpansionTooLong,
  // Mail
  kSmtpConnect,       // connection, greeting or HELO failed; the transcript is the message
  kSmtpRefused,       // a mail's MAIL FROM, RCPT TO, DATA or end of data refused or unanswered
  kInvalidAddress,    // text: the address
  kRecipientRefused,  // text: a sendto address RECIPIENTS does not allow
  kAddressFileUnreadable,
  kMailIncomplete,  // a mail without sender, subject or body (failed encryption)
  kPgpNotStarted,
  // Side outputs
  kNoDataFileFormat,
  kNoShell,  // the last kind: kFailureKindCount counts up to it
};

// How many kinds there are; the catalogue has one row for each.
inline constexpr std::size_t kFailureKindCount =
    static_cast<std::size_t>(FailureKind::kNoShell) + 1;

// One step of the SMTP conversation, as the error and debug pages show it.
struct TranscriptEntry {
  enum class Kind {
    kProtocol,          // a command or a reply, as sent or received
    kConnectionFailed,  // the connection could not be made (replaces all before)
    kHeloRefused,       // text: the HELO reply
    kMailFromRefused,   // text: the MAIL FROM reply
  };
  Kind kind;
  std::string text;
};
using Transcript = std::vector<TranscriptEntry>;

struct Failure {
  FailureKind kind;
  std::string text;
  std::string detail;
  Transcript transcript;
};

inline Failure Fail(FailureKind kind, std::string text = {}, std::string detail = {}) {
  return Failure{kind, std::move(text), std::move(detail), {}};
}

}  // namespace veltrano
