// The SMTP client: one plain conversation (HELO, no extensions) over one
// connection, carrying finished mails (mail/outbox.hpp).
//
// The client is made for one server ("host" or "host:port", port 25
// without it). Connect opens the connection, reads the greeting and sends
// HELO; Send carries one mail: MAIL FROM, RCPT TO for each recipient, DATA
// with the mail's text; Quit ends the conversation (and does nothing when no
// connection was made). A mail without recipients is dropped with RSET
// before DATA. Addresses and texts go out as the mail holds them: they were
// checked and composed when it was built. A mail sent with a body line over
// 998 octets is reported to the notices given in Options.
//
// Replies are judged as RFC 5321 says: the greeting must be 220, HELO,
// MAIL FROM and RCPT TO want 2xx, DATA 354, the end of data 250. Anything
// else fails the step: another code (1xx and 3xx included), a malformed
// reply, no reply within its time-out or the request's budget, a closed or
// failed connection. The one exception is RCPT TO answered 4xx or 5xx: that
// recipient is refused, and the mail goes on to the others; when the mail
// is then accepted, each refused recipient is one notice (temporarily or
// permanently refused, with the reply); when it fails, they are named in
// its failure's detail.
//
// Failures come back as values carrying the transcript: a missing local
// host name, a server text without a port number after its last ':', a
// connection, greeting or HELO failure (kSmtpConnect; a greeting other than
// 220 gets QUIT first); a failed MAIL FROM, RCPT TO, DATA or end of data
// (kSmtpRefused; an RSET first when the conversation is still in step).
// Their details say which step, and what happened: "refused: <reply>" for
// 4xx and 5xx, "unexpected reply", "malformed reply", "no reply within 30 s"
// or within the request's budget, "connection closed", "no greeting".
//
// The mail's text goes out with its end-of-data mark in one send, which
// must be done while kEndOfDataReserve of the budget is left for the reply;
// when it isn't, the connection is closed without the whole mark, so the
// server drops the mail, and the failure the visitor is shown is true.
// The transcript holds only what went whole: commands sent whole, replies
// received whole.
//
// Replies are untrusted: a reply may arrive in any number of pieces, is
// complete at its last line (one without '-' after the code) and may be at
// most 64 KiB. It is well formed when every line begins with the same
// three-digit code followed by '-' (all lines but the last), ' ' or the
// line end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mail/outbox.hpp"
#include "mail/transport.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/deadline.hpp"

namespace veltrano {

// Left of the budget for the end-of-data reply: a server that queues the
// mail answers within milliseconds, one with content filters within
// seconds.
inline constexpr std::chrono::seconds kEndOfDataReserve{10};

struct SmtpServerAddress {
  std::string host;
  std::uint16_t port = 25;
};

// The host and port of an SMTPSERVER text, split at its last ':'; none when
// the text after that ':' is not a port number (trailing white space aside).
std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server);

struct SmtpReply {
  enum class Status {
    kWhole,      // a well-formed reply: `code` is its code
    kMalformed,  // a whole reply that is not well formed
    kTooLong,    // over 64 KiB before it was complete
    kTimedOut,   // not complete within the reply's time-out
    kBudget,     // not complete when the request's budget ended
    kClosed,     // the server closed the connection first
    kFailed,     // receiving failed
    kNotRead,    // not waited for: the conversation broke before
  };
  Status status = Status::kNotRead;
  int code = -1;     // kWhole: 100 to 599
  std::string text;  // every byte received for this reply
  bool whole() const { return status == Status::kWhole || status == Status::kMalformed; }
};

class SmtpClient {
 public:
  struct Options {
    // Longest wait for one reply to arrive whole.
    std::chrono::milliseconds replyTimeout{30000};
    // The request's time budget: no reply is waited for past it.
    platform::Deadline budget = platform::Deadline::Never();
    Notices* notices = nullptr;  // none: nothing is reported
    std::chrono::milliseconds endOfDataReserve = kEndOfDataReserve;
  };

  // `server` as SMTPSERVER names it.
  SmtpClient(SmtpTransport& transport, std::string server, Options options);
  SmtpClient(SmtpTransport& transport, std::string server)
      : SmtpClient(transport, std::move(server), Options{}) {}

  // The greeting and HELO with this end's host name (none: it could not be
  // read, and no connection is tried).
  Status Connect(const std::optional<std::string>& localHostName);
  Status Send(const OutgoingMail& mail);
  // QUIT and its reply code; 0 without sending anything when never connected.
  int Quit();

  const Transcript& transcript() const { return transcript_; }
  // How many mails the server has accepted (end of data answered 250).
  std::size_t mailsAccepted() const { return mailsAccepted_; }

 private:
  bool SendCommand(std::string_view command, bool record = true);
  // The mail's text and the end-of-data mark, all by `until`; false when a
  // send failed or did not end in time.
  bool SendText(const OutgoingMail& mail, const platform::Deadline& until);
  SmtpReply ReadReply();
  void Record(std::string_view protocolText);
  void RecordWhole(const SmtpReply& reply);
  // What happened to a reply the step did not accept, for the log.
  std::string Words(const SmtpReply& reply) const;
  // Why a command was not sent, for the log.
  std::string NotSent() const;
  Failure Failed(FailureKind kind, std::string detail) const;
  Status AbortMail(std::string_view step, std::string why,
                   const std::vector<std::string>& refusedRecipients);

  SmtpTransport& transport_;
  const std::string server_;  // as named, for the administrator's log
  const Options options_;
  Transcript transcript_;
  std::size_t mailsAccepted_ = 0;
  bool connected_ = false;
  bool broken_ = false;  // a send or receive failed; nothing more is sent
};

}  // namespace veltrano
