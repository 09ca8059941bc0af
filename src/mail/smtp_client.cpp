#include "mail/smtp_client.hpp"

#include "mail/message.hpp"
#include "mail/smtp_client_internal.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::uint16_t kDefaultSmtpPort = 25;
// A reply holds a code and a short text; even a long multi-line EHLO-style
// answer stays far below this. Anything longer is a broken or hostile server.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;
constexpr std::size_t kReceiveChunk = 499;
constexpr int kServiceReady = 220;
constexpr int kMailAccepted = 250;
constexpr int kStartMailInput = 354;
// How much of a shared text is prepared and sent at a time.
constexpr std::size_t kSendChunk = 64 * 1024;

using ReplyStatus = SmtpReply::Status;

bool IsReplySeparator(char c) {
  return c == ' ' || c == '-';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool Positive(const SmtpReply& reply) {
  return reply.status == ReplyStatus::kWhole && reply.code / 100 == 2;
}

bool Is(const SmtpReply& reply, int code) {
  return reply.status == ReplyStatus::kWhole && reply.code == code;
}

// A 4xx or 5xx reply: the server says no, for now or for good.
bool Refusal(const SmtpReply& reply) {
  return reply.status == ReplyStatus::kWhole && reply.code >= 400;
}

// The reply's text as one line for the log.
std::string OneLine(std::string text) {
  Trim(text);
  return CollapseLineBreaks(text);
}

// The code of a line that is part of a well-formed reply, or -1; `last`
// says whether it may end the reply (no '-' after the code) or must not.
int LineCode(std::string_view line, bool last) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return -1;
  if (line[0] < '1' || line[0] > '5') return -1;
  const char after = line.size() > 3 ? line[3] : ' ';
  if (after != (last ? ' ' : '-')) return -1;
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// The code of a whole reply (ending with LF): the same on every line, or -1.
int WellFormedCode(std::string_view reply) {
  int code = -1;
  for (std::size_t at = 0; at < reply.size();) {
    const std::size_t end = reply.find('\n', at);
    const int lineCode = LineCode(reply.substr(at, end - at), end + 1 == reply.size());
    if (lineCode < 0 || (code >= 0 && lineCode != code)) return -1;
    code = lineCode;
    at = end + 1;
  }
  return code;
}

}  // namespace

std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server) {
  std::size_t colon = server.rfind(':');
  if (colon == std::string_view::npos) {
    return SmtpServerAddress{std::string(server), kDefaultSmtpPort};
  }
  std::string_view digits = server.substr(colon + 1);
  // The section is not trimmed; white space after the port is let through
  // as it is after a dotted address.
  while (!digits.empty() && IsTrimSpace(digits.back())) digits.remove_suffix(1);
  std::optional<unsigned long long> port = ParseDecimal(digits);
  if (!port || digits.size() > 5 || *port == 0 || *port > 65535) return std::nullopt;
  return SmtpServerAddress{std::string(server.substr(0, colon)), static_cast<std::uint16_t>(*port)};
}

std::optional<int> CompleteReplyCode(std::string_view reply) {
  if (reply.empty() || reply.back() != '\n') return std::nullopt;
  std::string_view body = reply.substr(0, reply.size() - 1);
  std::size_t start = body.rfind('\n');
  std::string_view line = start == std::string_view::npos ? body : body.substr(start + 1);
  // The first token, separated by spaces and hyphens; a hyphen right after
  // it marks a line that the reply continues after.
  std::size_t i = 0;
  while (i < line.size() && IsReplySeparator(line[i])) ++i;
  std::size_t end = i;
  while (end < line.size() && !IsReplySeparator(line[end])) ++end;
  if (end < line.size() && line[end] == '-') return std::nullopt;
  return WellFormedCode(reply);
}

SmtpClient::SmtpClient(SmtpTransport& transport, std::string server, Options options)
    : transport_(transport), server_(std::move(server)), options_(options) {}

SmtpReply SmtpClient::ReadReply() {
  SmtpReply reply;
  if (broken_) return reply;
  const platform::Deadline deadline = options_.budget.Within(options_.replyTimeout);
  for (;;) {
    switch (transport_.Receive(reply.text, kReceiveChunk, deadline)) {
      case platform::ReceiveStatus::kData:
        break;
      case platform::ReceiveStatus::kClosed:
        reply.status = ReplyStatus::kClosed;
        break;
      case platform::ReceiveStatus::kTimedOut:
        reply.status = options_.budget.Passed() ? ReplyStatus::kBudget : ReplyStatus::kTimedOut;
        break;
      case platform::ReceiveStatus::kFailed:
        reply.status = ReplyStatus::kFailed;
        break;
    }
    if (reply.status != ReplyStatus::kNotRead) break;
    if (reply.text.size() > kMaxReplyBytes) {
      reply.status = ReplyStatus::kTooLong;
      break;
    }
    if (std::optional<int> code = CompleteReplyCode(reply.text)) {
      reply.status = *code < 0 ? ReplyStatus::kMalformed : ReplyStatus::kWhole;
      reply.code = *code;
      return reply;
    }
  }
  broken_ = true;  // what arrives later would answer the wrong command
  return reply;
}

std::string SmtpClient::Words(const SmtpReply& reply) const {
  switch (reply.status) {
    case ReplyStatus::kWhole:
      return (Refusal(reply) ? "refused: " : "unexpected reply: ") + OneLine(reply.text);
    case ReplyStatus::kMalformed:
      return "malformed reply: " + OneLine(reply.text);
    case ReplyStatus::kTooLong:
      return "reply over 64 KiB";
    case ReplyStatus::kTimedOut:
      return "no reply within " + platform::DurationText(options_.replyTimeout);
    case ReplyStatus::kBudget:
      return "no reply " + platform::WithinBudget(options_.budget);
    case ReplyStatus::kClosed:
      return "connection closed";
    case ReplyStatus::kFailed:
      if (const std::string error = transport_.error(); !error.empty()) {
        return "connection failed: " + error;
      }
      return "connection failed";
    case ReplyStatus::kNotRead:
      break;
  }
  return "not sent, the conversation had broken off";
}

std::string SmtpClient::NotSent() const {
  if (options_.budget.Passed()) return "not sent " + platform::WithinBudget(options_.budget);
  const std::string error = transport_.error();
  return error.empty() ? "not sent" : "not sent: " + error;
}

void SmtpClient::Record(std::string_view protocolText) {
  if (protocolText.empty()) return;
  if (!transcript_.empty() && transcript_.back().kind == TranscriptEntry::Kind::kProtocol) {
    transcript_.back().text += protocolText;
  } else {
    transcript_.push_back({TranscriptEntry::Kind::kProtocol, std::string(protocolText)});
  }
}

void SmtpClient::RecordWhole(const SmtpReply& reply) {
  if (reply.whole()) Record(reply.text);
}

bool SmtpClient::SendCommand(std::string_view command, bool record) {
  if (broken_ || !transport_.Send(command, options_.budget)) {
    broken_ = true;
    return false;
  }
  if (record) Record(command);
  return true;
}

Failure SmtpClient::Failed(FailureKind kind, std::string detail) const {
  Failure failure = Fail(kind, {}, "server " + server_ + ": " + std::move(detail));
  failure.transcript = transcript_;
  return failure;
}

Status SmtpClient::Connect(const std::optional<std::string>& localHostName) {
  std::optional<SmtpServerAddress> address = ParseSmtpServer(server_);
  std::string why;
  if (!localHostName) {
    why = "the local host name cannot be read";
  } else if (!address) {
    why = "not a port number after the last ':'";
  } else if (!transport_.Connect(address->host, address->port)) {
    why = transport_.error();
  }
  if (!why.empty()) {
    transcript_ = {{TranscriptEntry::Kind::kConnectionFailed, {}}};
    return Failed(FailureKind::kSmtpConnect, std::move(why));
  }
  SmtpReply greeting = ReadReply();
  RecordWhole(greeting);
  if (!Is(greeting, kServiceReady)) {
    // A server that will not serve says so in its greeting, and waits for
    // QUIT (RFC 5321 3.1).
    if (greeting.whole() && SendCommand("QUIT\r\n")) RecordWhole(ReadReply());
    transport_.Close();
    return Failed(FailureKind::kSmtpConnect,
                  (greeting.whole() ? "greeting: " : "no greeting: ") + Words(greeting));
  }
  SmtpReply helo;
  if (SendCommand("HELO " + *localHostName + "\r\n")) helo = ReadReply();
  if (!Positive(helo)) {
    transcript_.push_back(
        {TranscriptEntry::Kind::kHeloRefused, helo.whole() ? helo.text : std::string()});
    return Failed(FailureKind::kSmtpConnect,
                  "HELO: " + (helo.status == ReplyStatus::kNotRead ? NotSent() : Words(helo)));
  }
  Record(helo.text);
  connected_ = true;
  return {};
}

Status SmtpClient::AbortMail(std::string_view step, std::string why,
                             const std::vector<std::string>& refusedRecipients) {
  if (!broken_ && SendCommand("RSET\r\n")) RecordWhole(ReadReply());
  std::string detail = std::string(step) + ": " + std::move(why);
  // The refused recipients of a failed mail are told with its failure: a
  // refused RCPT is often why the DATA that follows is refused.
  for (const std::string& refused : refusedRecipients) detail += "; before it " + refused;
  return Failed(FailureKind::kSmtpRefused, std::move(detail));
}

Status SmtpClient::Send(const OutgoingMail& mail) {
  const std::string mailFrom = "MAIL FROM:<" + mail.sender + ">";
  SmtpReply reply;
  if (SendCommand(mailFrom + "\r\n")) reply = ReadReply();
  if (!Positive(reply)) {
    transcript_.push_back(
        {TranscriptEntry::Kind::kMailFromRefused, reply.whole() ? reply.text : std::string()});
    return Failed(
        FailureKind::kSmtpRefused,
        mailFrom + ": " + (reply.status == ReplyStatus::kNotRead ? NotSent() : Words(reply)));
  }
  Record(reply.text);

  // "RCPT TO:<address>: ... refused: reply" for each recipient the server
  // refused. A refused recipient does not stop the mail; it is told with
  // the mail's outcome.
  std::vector<std::string> refused;
  for (const MailRecipient& recipient : mail.recipients) {
    const std::string command = "RCPT TO:<" + recipient.address + ">";
    // Blind copies stay out of the transcript, which the debug page shows
    // (the log may name them: it holds addresses anyway).
    if (!SendCommand(command + "\r\n", /*record=*/recipient.listed)) {
      return AbortMail(command, NotSent(), refused);
    }
    SmtpReply rcpt = ReadReply();
    RecordWhole(rcpt);
    if (Positive(rcpt)) continue;
    if (!Refusal(rcpt)) return AbortMail(command, Words(rcpt), refused);
    refused.push_back(command + ": " + (rcpt.code < 500 ? "temporarily" : "permanently") +
                      " refused: " + OneLine(rcpt.text));
  }
  // A mail nobody receives (an address file without addresses) is dropped.
  if (mail.recipients.empty()) {
    if (SendCommand("RSET\r\n")) RecordWhole(ReadReply());
    return {};
  }
  if (!mail.longLineNote.empty() && options_.notices) {
    options_.notices->Note(NoticeKind::kLongLineKept, mail.longLineNote);
  }

  if (!SendCommand("DATA\r\n")) return AbortMail("DATA", NotSent(), refused);
  SmtpReply data = ReadReply();
  RecordWhole(data);
  if (!Is(data, kStartMailInput)) return AbortMail("DATA", Words(data), refused);

  // Without time for its reply, the mark would make a mail the server takes
  // while the visitor is told it failed. A mark not sent whole when the
  // connection closes makes the server drop the mail.
  const auto reserve = options_.endOfDataReserve;
  const platform::Deadline markBy(std::chrono::milliseconds(options_.budget.MillisecondsLeft()) -
                                  reserve);
  if (markBy.Passed() || !SendText(mail, markBy)) {
    transport_.Close();
    broken_ = true;
    if (!markBy.Passed()) return AbortMail("the mail's text", NotSent(), refused);
    return AbortMail("end of data",
                     "not sent, less than " + platform::DurationText(reserve) +
                         " of the request's time budget of " +
                         platform::DurationText(options_.budget.length()) +
                         " left for its reply; the connection was closed without it",
                     refused);
  }
  Record("\r\n.\r\n");
  SmtpReply done = ReadReply();
  RecordWhole(done);
  if (!Is(done, kMailAccepted)) return AbortMail("end of data", Words(done), refused);
  ++mailsAccepted_;
  if (options_.notices) {
    for (const std::string& recipient : refused) {
      options_.notices->Note(NoticeKind::kRcptRefused, "server " + server_ + ": " + recipient);
    }
  }
  return {};
}

bool SmtpClient::SendText(const OutgoingMail& mail, const platform::Deadline& until) {
  constexpr std::string_view kEnd = "\r\n.\r\n";
  // The text and the end-of-data mark in one send: nothing is awaited
  // between them.
  if (mail.pieces.empty()) return transport_.Send(mail.text + std::string(kEnd), until);
  if (!transport_.Send(mail.text, until)) return false;
  // Shared texts are prepared for the wire a chunk at a time: a file's
  // encoding is never copied whole.
  WireWriter writer;
  std::string chunk;
  for (const MailPiece& piece : mail.pieces) {
    for (std::string_view text : {std::string_view(*piece.shared), std::string_view(piece.after)}) {
      for (std::size_t at = 0; at < text.size(); at += kSendChunk) {
        chunk.clear();
        writer.Feed(text.substr(at, kSendChunk), chunk);
        if (!transport_.Send(chunk, until)) return false;
      }
    }
  }
  chunk.clear();
  writer.Finish(chunk);
  return transport_.Send(chunk + std::string(kEnd), until);
}

int SmtpClient::Quit() {
  if (!connected_) return 0;
  SmtpReply reply;
  if (SendCommand("QUIT\r\n")) reply = ReadReply();
  RecordWhole(reply);
  transport_.Close();
  return reply.code;
}

}  // namespace veltrano
