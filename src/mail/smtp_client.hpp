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
// Failures come back as values carrying the transcript: a missing local
// host name, a server text without a port number after its last ':', or a
// connection or HELO failure (kSmtpConnect); a refused MAIL FROM, a DATA
// reply other than 354 or an end-of-data reply of 400 or more, the last two
// after an RSET (kSmtpRefused). A refused RCPT TO (400 or more, or no reply)
// does not stop the mail: when the mail is then accepted, each refused
// recipient is one notice with the server's reply; when the mail fails, the
// refused recipients are named in the failure's detail.
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
#include <utility>
#include <vector>

#include "mail/outbox.hpp"
#include "mail/transport.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/deadline.hpp"

namespace veltrano {

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

class SmtpClient {
 public:
  struct Options {
    // Longest wait for one reply to arrive whole.
    std::chrono::milliseconds replyTimeout{30000};
    // The request's time budget: no reply is waited for past it.
    platform::Deadline budget = platform::Deadline::Never();
    Notices* notices = nullptr;  // none: nothing is reported
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
  // How many mails the server has accepted (end of data below 400).
  std::size_t mailsAccepted() const { return mailsAccepted_; }

 private:
  void SendCommand(std::string_view command, bool record = true);
  // The mail's text and the end-of-data mark; false when a send failed.
  bool SendText(const OutgoingMail& mail);
  SmtpReply ReadReply();
  void Record(std::string_view protocolText);
  Status Refused(std::string_view command, const SmtpReply& reply,
                 const std::vector<std::string>& refusedRecipients = {});
  Status AbortMail(std::string_view command, const SmtpReply& reply,
                   const std::vector<std::string>& refusedRecipients);

  SmtpTransport& transport_;
  const std::string server_;  // as named, for the administrator's log
  const Options options_;
  Transcript transcript_;
  std::size_t mailsAccepted_ = 0;
  bool connected_ = false;
  bool broken_ = false;  // a receive failed; nothing more is sent
};

}  // namespace veltrano
