// The SMTP client: one plain conversation (HELO, no extensions) over one
// connection, carrying every mail of a request.
//
// The connection is opened by the first MailFrom (or by Open, which only
// greets the server); the server named then ("host" or "host:port", port 25
// without it) is the only one used. Per mail
// the caller sends MailFrom, any number of RcptTo/RcptBcc, MsgBody and
// ClearToList; Quit ends the conversation (and does nothing when no
// connection was made). MsgBody composes the mail (ComposeMail, message.hpp:
// header block, MIME when needed, the body prepared for the wire), so
// callers hand it bodies with any line ends and no dot doubling. Addresses
// go out in lower case. A mail sent with a body line over 998 octets (the
// administrator's header chose an encoding that keeps it) is reported to
// the notices given in Options.
//
// Failures come back as values carrying the transcript: a connection or
// HELO failure (kSmtpConnect); an address holding CR, LF, another control
// byte, DEL, '<' or '>', or one too long for a server to take
// (IsOverlongAddress, text/address.hpp), never sent (kInvalidAddress); a
// refused MAIL FROM, a DATA reply other than 354 or an end-of-data reply of
// 400 or more, the last two after an RSET (kSmtpRefused); a missing body,
// subject or sender (kMailIncomplete). A refused RCPT TO (400 or more, or
// no reply) does not stop the mail: when the mail is then accepted, each
// refused recipient is one notice with the server's reply; when the mail
// fails, the refused recipients are named in the failure's detail. A mail
// without any RCPT TO is dropped with RSET before DATA.
//
// Replies are untrusted: a reply may arrive in any number of pieces, is
// complete at its last line (one without '-' after the code) and may be at
// most 64 KiB; a reply that is too long, cut off by a closed connection,
// not complete within the time-out (or by the end of the request's budget,
// which the log line then names), or whose last line does not begin with
// three digits, counts as code -1, which is a failure wherever a reply is
// examined.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message.hpp"
#include "mail/transport.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/system.hpp"

namespace veltrano {

// True for an address that could break out of its command or header line:
// one holding CR, LF, another byte below 0x20, DEL, '<' or '>'.
bool IsUnsafeAddress(std::string_view address);

struct SmtpServerAddress {
  std::string host;
  std::uint16_t port = 25;
};

// The host and port of an SMTPSERVER text, split at its last ':'; none when
// the text after that ':' is not a port number (trailing white space aside).
std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server);

struct SmtpReply {
  int code = -1;     // -1: no complete, well-formed reply arrived
  std::string text;  // every byte received for this reply
  // Code -1 because the request's budget ended the wait: the log's words.
  std::string budgetText;
};

// What a mail carries besides its body and subject.
struct MailExtras {
  std::optional<std::string> replyTo;  // an address the caller checked
  bool autoReply = false;              // a response mail
  BodyKind body = BodyKind::kText;
};

class SmtpClient {
 public:
  struct Options {
    // Longest wait for one reply to arrive whole.
    std::chrono::milliseconds replyTimeout{30000};
    // The request's time budget: no reply is waited for past it.
    platform::Deadline budget = platform::Deadline::Never();
    Notices* notices = nullptr;  // none: nothing is reported
  };

  // `clock` dates the mails.
  SmtpClient(SmtpTransport& transport, const platform::Clock& clock, Options options);
  SmtpClient(SmtpTransport& transport, const platform::Clock& clock)
      : SmtpClient(transport, clock, Options{}) {}

  // Opens the conversation without starting a mail: connects, reads the
  // greeting and says HELO (a check that the server takes mail from here).
  // Nothing happens when it is open already.
  Status Open(std::string_view server);
  // Connects on the first call; the sender is trimmed.
  Status MailFrom(std::string_view server, std::string_view sender);
  // A To recipient is listed in the To line; a blind copy is not, and its
  // command stays out of the transcript.
  Status RcptTo(std::string_view address) { return Recipient(address, /*listed=*/true); }
  Status RcptBcc(std::string_view address) { return Recipient(address, /*listed=*/false); }
  // Sends one mail: header block, blank line, the body, end of data.
  Status MsgBody(std::optional<std::string_view> body, std::optional<std::string_view> subject,
                 const MailExtras& extras = {});

  // One header text (several lines allowed) for the following mails.
  void SetExtraHeader(std::string_view header) { extraHeader_ = std::string(header); }
  void ClearExtraHeader() { extraHeader_.reset(); }
  void ClearToList() { toList_.clear(); }

  // QUIT and its reply code; 0 without sending anything when never connected.
  int Quit();
  const Transcript& transcript() const { return transcript_; }
  // How many mails the server has accepted (end of data below 400).
  std::size_t mailsAccepted() const { return mailsAccepted_; }

  // End of public API. Implementation details follow.

  // The code of a complete reply, or none while more is to come: a reply is
  // complete when it ends with LF and its last line is a final line. -1 when
  // that line does not begin with three digits.
  static std::optional<int> CompleteReplyCode(std::string_view reply);

 private:
  Status Connect(std::string_view server);
  Status Recipient(std::string_view address, bool listed);
  void SendCommand(std::string_view command, bool record = true);
  SmtpReply ReadReply();
  void Record(std::string_view protocolText);
  Status Refused(std::string_view command, const SmtpReply& reply);
  Status AbortMail(std::string_view command, const SmtpReply& reply);
  Status CheckAddress(std::string_view address) const;
  std::string NextMessageId(const platform::LocalTime& now);

  SmtpTransport& transport_;
  const platform::Clock& clock_;
  Options options_;
  std::string server_;  // as named, for the administrator's log
  std::string localHostName_;
  Transcript transcript_;
  std::optional<std::string> senderAddress_;
  std::optional<std::string> extraHeader_;
  std::string toList_;  // each address followed by ", "
  std::size_t recipientsThisMail_ = 0;
  // "RCPT TO:<address>: reply" for each recipient of this mail the server
  // refused.
  std::vector<std::string> refusedRecipients_;
  std::size_t mailsAccepted_ = 0;
  std::uint64_t mailsComposed_ = 0;
  bool connected_ = false;
  bool broken_ = false;  // a receive failed; nothing more is sent
};

}  // namespace veltrano
