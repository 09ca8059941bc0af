// The SMTP client: one plain conversation (HELO, no extensions) over one TCP
// connection, carrying every mail of a request. The server is a host name or
// dotted address, optionally followed by ":PORT" (1 to 65535); the port is
// 25 without it.
//
// The connection is opened by the first MailFrom; the server named then is
// the only one used. Per mail the caller sends MailFrom, any number of
// RcptTo/RcptBcc, MsgBody and ClearToList; Quit ends the conversation (and
// does nothing when no connection was made). MsgBody composes the header
// block itself and puts the body through PrepareBodyForWire, so callers
// hand it bodies with any line ends and no dot doubling; lines of the extra
// header get the same leading-dot doubling.
//
// Failures end the request through ReportFatal: a connection or HELO failure
// ("Socket Initialization error"); an address holding CR, LF, another
// control byte, DEL, '<' or '>' ("Mail send error"); a DATA reply other than
// 354 or an end-of-data reply of 400 or more, after an RSET ("SMTP
// Communication error"); a missing body, subject or sender (no title).
// A refused MAIL FROM is returned as false for the caller to report. RCPT TO
// replies are recorded but not examined. A mail without any RCPT TO is
// dropped with RSET before DATA.
//
// Replies are untrusted: a reply may arrive in any number of pieces, is
// complete at its last line (one without '-' after the code) and may be at
// most 64 KiB; a reply that is too long, cut off by a closed connection or
// not complete within the time-out counts as code -1, which is a failure
// wherever a reply is examined. The transcript is HTML: every command and
// reply in it is escaped, and only the fixed failure texts carry markup.
// Addresses and lists have no length limits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net.hpp"
#include "platform/system.hpp"

namespace veltrano {

// The message of the no-title page for a mail that lacks its body, subject
// or sender (for instance when encryption yielded nothing).
inline constexpr std::string_view kMsgBodyFailureMessage =
    "Critical error occured with Veltrano.  Please contact developer and advise him that failure "
    "occured in the MsgBody() Function";

struct SmtpServerAddress {
  std::string host;
  std::uint16_t port = 25;
};

// The host and port of an SMTPSERVER text, split at its last ':'; none when
// the text after that ':' is not a port number (trailing white space aside).
std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server);

struct SmtpReply {
  int code = -1;     // -1: no complete reply arrived
  std::string text;  // every byte received for this reply
};

class SmtpClient {
 public:
  struct Options {
    platform::SocketTimeouts timeouts;
  };

  // `clock` dates the mails.
  explicit SmtpClient(const platform::Clock& clock, Options options = {});

  // Connects on the first call. Trims `sender` in place. False when the
  // server refuses the sender or does not answer.
  [[nodiscard]] bool MailFrom(std::string_view server, std::string& sender);
  // Lower-case `address` in place (callers see the change), then send
  // RCPT TO. A To recipient is listed in the To line; a blind copy is not.
  void RcptTo(std::string& address);
  void RcptBcc(std::string& address);
  // Sends one mail: header block, blank line, the body, end of data.
  void MsgBody(std::optional<std::string_view> body, std::optional<std::string_view> subject);

  // One header text (several lines allowed) for the following mails.
  void SetExtraHeader(std::string_view header) { extraHeader_ = std::string(header); }
  void ClearExtraHeader() { extraHeader_.reset(); }
  void ClearToList() { toList_.clear(); }

  // QUIT and its reply code; 0 without sending anything when never connected.
  int Quit();
  // The conversation so far, as HTML.
  const std::string& GetTranscript() const { return transcript_; }

  // End of public API. Implementation details follow.

  // The code of a complete reply, or none while more is to come: a reply is
  // complete when it ends with LF and its last line is a final line.
  static std::optional<int> CompleteReplyCode(std::string_view reply);

 private:
  bool ConnectAndHelo(std::string_view server);
  void SendCommand(std::string_view command, bool record = true);
  SmtpReply ReadReply();
  void Record(std::string_view protocolText);
  [[noreturn]] void AbortMail(std::string_view title);
  std::string ComposeHeader(std::string_view subject) const;

  const platform::Clock& clock_;
  Options options_;
  platform::TcpSocket socket_;
  std::string localHostName_;
  std::string transcript_;
  std::optional<std::string> senderAddress_;
  std::optional<std::string> extraHeader_;
  std::string toList_;  // each address followed by ", "
  std::size_t recipientsThisMail_ = 0;
  std::uint64_t mailsComposed_ = 0;
  bool connected_ = false;
  bool broken_ = false;  // a receive failed; nothing more is sent
};

}  // namespace veltrano
