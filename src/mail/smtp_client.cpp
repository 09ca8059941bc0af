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
constexpr int kRefusal = 400;  // a code at or above this refuses
constexpr int kStartMailInput = 354;
// How much of a shared text is prepared and sent at a time.
constexpr std::size_t kSendChunk = 64 * 1024;

bool IsReplySeparator(char c) {
  return c == ' ' || c == '-';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool Refuses(int code) {
  return code >= kRefusal || code < 0;
}

// The reply's text as one line for the log.
std::string LogReply(const SmtpReply& reply) {
  if (reply.code < 0 && reply.text.empty()) {
    return reply.budgetText.empty() ? "no reply" : reply.budgetText;
  }
  std::string text = reply.text;
  Trim(text);
  return CollapseLineBreaks(text);
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
  std::string_view token = line.substr(i, end - i);
  // "hello", "25O ok" or "queued" is no reply code, and never an acceptance.
  if (token.size() < 3 || !IsDigit(token[0]) || !IsDigit(token[1]) || !IsDigit(token[2])) {
    return -1;
  }
  return static_cast<int>(LeadingInteger(token, 1000000000));
}

SmtpClient::SmtpClient(SmtpTransport& transport, std::string server, Options options)
    : transport_(transport), server_(std::move(server)), options_(options) {}

SmtpReply SmtpClient::ReadReply() {
  SmtpReply reply;
  if (!broken_) {
    const platform::Deadline deadline = options_.budget.Within(options_.replyTimeout);
    for (;;) {
      if (transport_.Receive(reply.text, kReceiveChunk, deadline) !=
              platform::ReceiveStatus::kData ||
          reply.text.size() > kMaxReplyBytes) {
        broken_ = true;  // what arrives later would answer the wrong command
        break;
      }
      if (std::optional<int> code = CompleteReplyCode(reply.text)) {
        reply.code = *code;
        return reply;
      }
    }
  }
  reply.code = -1;
  // A spent budget is the reason: it ended this wait, or an earlier wait or
  // send, after which nothing more was awaited.
  if (options_.budget.Passed()) {
    reply.budgetText = "no reply " + platform::WithinBudget(options_.budget);
  }
  return reply;
}

void SmtpClient::Record(std::string_view protocolText) {
  if (protocolText.empty()) return;
  if (!transcript_.empty() && transcript_.back().kind == TranscriptEntry::Kind::kProtocol) {
    transcript_.back().text += protocolText;
  } else {
    transcript_.push_back({TranscriptEntry::Kind::kProtocol, std::string(protocolText)});
  }
}

void SmtpClient::SendCommand(std::string_view command, bool record) {
  if (record) Record(command);
  if (!broken_ && !transport_.Send(command)) broken_ = true;
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
    Failure failure = Fail(FailureKind::kSmtpConnect, {}, "server " + server_ + ": " + why);
    failure.transcript = transcript_;
    return failure;
  }
  Record(ReadReply().text);  // the greeting; its code is not examined
  SendCommand("HELO " + *localHostName + "\r\n");
  SmtpReply helo = ReadReply();
  if (Refuses(helo.code)) {
    transcript_.push_back({TranscriptEntry::Kind::kHeloRefused, helo.text});
    Failure failure =
        Fail(FailureKind::kSmtpConnect, {}, "server " + server_ + ": HELO: " + LogReply(helo));
    failure.transcript = transcript_;
    return failure;
  }
  Record(helo.text);
  connected_ = true;
  return {};
}

Status SmtpClient::Refused(std::string_view command, const SmtpReply& reply,
                           const std::vector<std::string>& refusedRecipients) {
  std::string shown(command);
  TrimRight(shown);
  std::string detail =
      "server " + server_ + ": " + CollapseLineBreaks(shown) + ": " + LogReply(reply);
  // The refused recipients of a failed mail are told with its failure: a
  // refused RCPT is often why the DATA that follows is refused.
  for (const std::string& refused : refusedRecipients) detail += "; before it " + refused;
  Failure failure = Fail(FailureKind::kSmtpRefused, {}, std::move(detail));
  failure.transcript = transcript_;
  return failure;
}

Status SmtpClient::AbortMail(std::string_view command, const SmtpReply& reply,
                             const std::vector<std::string>& refusedRecipients) {
  if (!broken_) {
    SendCommand("RSET\r\n");
    Record(ReadReply().text);
  }
  return Refused(command, reply, refusedRecipients);
}

Status SmtpClient::Send(const OutgoingMail& mail) {
  const std::string mailFrom = "MAIL FROM:<" + mail.sender + ">\r\n";
  SendCommand(mailFrom);
  SmtpReply reply = ReadReply();
  if (Refuses(reply.code)) {
    transcript_.push_back({TranscriptEntry::Kind::kMailFromRefused, reply.text});
    return Refused(mailFrom, reply);
  }
  Record(reply.text);

  // "RCPT TO:<address>: reply" for each recipient the server refused. A
  // refused recipient does not stop the mail; it is told with the mail's
  // outcome.
  std::vector<std::string> refused;
  for (const MailRecipient& recipient : mail.recipients) {
    const std::string command = "RCPT TO:<" + recipient.address + ">";
    // Blind copies stay out of the transcript, which the debug page shows
    // (the log may name them: it holds addresses anyway).
    SendCommand(command + "\r\n", /*record=*/recipient.listed);
    SmtpReply rcpt = ReadReply();
    Record(rcpt.text);
    if (Refuses(rcpt.code)) refused.push_back(command + ": " + LogReply(rcpt));
  }
  // A mail nobody receives (an address file without addresses) is dropped.
  if (mail.recipients.empty()) {
    if (!broken_) {
      SendCommand("RSET\r\n");
      Record(ReadReply().text);
    }
    return {};
  }
  if (!mail.longLineNote.empty() && options_.notices) {
    options_.notices->Note(NoticeKind::kLongLineKept, mail.longLineNote);
  }

  SendCommand("DATA\r\n");
  SmtpReply data = ReadReply();
  Record(data.text);
  if (data.code != kStartMailInput) return AbortMail("DATA", data, refused);

  Record("\r\n.\r\n");
  if (!broken_ && !SendText(mail)) broken_ = true;
  SmtpReply done = ReadReply();
  Record(done.text);
  if (Refuses(done.code)) return AbortMail("end of data", done, refused);
  ++mailsAccepted_;
  if (options_.notices) {
    for (const std::string& recipient : refused) {
      options_.notices->Note(NoticeKind::kRcptRefused, "server " + server_ + ": " + recipient);
    }
  }
  return {};
}

bool SmtpClient::SendText(const OutgoingMail& mail) {
  constexpr std::string_view kEnd = "\r\n.\r\n";
  // The text and the end-of-data mark in one send: nothing is awaited
  // between them.
  if (mail.pieces.empty()) return transport_.Send(mail.text + std::string(kEnd));
  if (!transport_.Send(mail.text)) return false;
  // Shared texts are prepared for the wire a chunk at a time: a file's
  // encoding is never copied whole.
  WireWriter writer;
  std::string chunk;
  for (const MailPiece& piece : mail.pieces) {
    for (std::string_view text : {std::string_view(*piece.shared), std::string_view(piece.after)}) {
      for (std::size_t at = 0; at < text.size(); at += kSendChunk) {
        chunk.clear();
        writer.Feed(text.substr(at, kSendChunk), chunk);
        if (!transport_.Send(chunk)) return false;
      }
    }
  }
  chunk.clear();
  writer.Finish(chunk);
  return transport_.Send(chunk + std::string(kEnd));
}

int SmtpClient::Quit() {
  if (!connected_) return 0;
  SendCommand("QUIT\r\n");
  SmtpReply reply = ReadReply();
  Record(reply.text);
  transport_.Close();
  return reply.code;
}

}  // namespace veltrano
