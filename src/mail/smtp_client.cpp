#include "mail/smtp_client.hpp"

#include <cstdio>
#include <random>

#include "mail/message.hpp"
#include "text/address.hpp"
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

bool IsReplySeparator(char c) {
  return c == ' ' || c == '-';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool Refuses(int code) {
  return code >= kRefusal || code < 0;
}

// A process-wide random part keeps Message-IDs of concurrent requests with
// the same second apart; the counter keeps the mails of one request apart.
std::string RandomToken() {
  std::random_device device;
  std::uint64_t value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
  return buf;
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

bool IsUnsafeAddress(std::string_view address) {
  for (char c : address) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '<' || c == '>') return true;
  }
  return false;
}

std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server) {
  std::size_t colon = server.rfind(':');
  if (colon == std::string_view::npos) {
    return SmtpServerAddress{std::string(server), kDefaultSmtpPort};
  }
  std::string_view digits = server.substr(colon + 1);
  // The section is not trimmed; white space after the port is let through
  // as it is after a dotted address.
  while (!digits.empty() && IsTrimSpace(digits.back())) digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return SmtpServerAddress{std::string(server.substr(0, colon)), static_cast<std::uint16_t>(port)};
}

SmtpClient::SmtpClient(SmtpTransport& transport, const platform::Clock& clock, Options options)
    : transport_(transport), clock_(clock), options_(options) {}

std::optional<int> SmtpClient::CompleteReplyCode(std::string_view reply) {
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

Status SmtpClient::CheckAddress(std::string_view address) const {
  if (IsUnsafeAddress(address)) return Fail(FailureKind::kInvalidAddress, std::string(address));
  if (IsOverlongAddress(address)) {
    // The reason first: the log line is cut at its length limit.
    return Fail(FailureKind::kInvalidAddress, std::string(address),
                "over " + std::to_string(kMaxAddressLength) + " octets or a local part over " +
                    std::to_string(kMaxLocalPartLength) + ": " + std::string(address));
  }
  return {};
}

Status SmtpClient::Connect(std::string_view server) {
  server_ = std::string(server);
  std::optional<std::string> host = transport_.LocalHostName();
  std::optional<SmtpServerAddress> address = ParseSmtpServer(server);
  std::string why;
  if (!host) {
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
  localHostName_ = *host;
  Record(ReadReply().text);  // the greeting; its code is not examined
  SendCommand("HELO " + localHostName_ + "\r\n");
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

Status SmtpClient::Refused(std::string_view command, const SmtpReply& reply) {
  std::string shown(command);
  TrimRight(shown);
  std::string detail =
      "server " + server_ + ": " + CollapseLineBreaks(shown) + ": " + LogReply(reply);
  // The refused recipients of a failed mail are told with its failure: a
  // refused RCPT is often why the DATA that follows is refused.
  for (const std::string& refused : refusedRecipients_) detail += "; before it " + refused;
  refusedRecipients_.clear();
  Failure failure = Fail(FailureKind::kSmtpRefused, {}, std::move(detail));
  failure.transcript = transcript_;
  return failure;
}

Status SmtpClient::Open(std::string_view server) {
  if (connected_) return {};
  return Connect(server);
}

Status SmtpClient::MailFrom(std::string_view server, std::string_view senderText) {
  std::string sender(senderText);
  Trim(sender);
  if (Status ok = CheckAddress(sender); !ok) return ok;
  if (!connected_) {
    if (Status ok = Connect(server); !ok) return ok;
  }
  recipientsThisMail_ = 0;
  refusedRecipients_.clear();
  const std::string command = "MAIL FROM:<" + sender + ">\r\n";
  SendCommand(command);
  SmtpReply reply = ReadReply();
  if (Refuses(reply.code)) {
    transcript_.push_back({TranscriptEntry::Kind::kMailFromRefused, reply.text});
    return Refused(command, reply);
  }
  Record(reply.text);
  senderAddress_ = std::move(sender);
  return {};
}

Status SmtpClient::Recipient(std::string_view addressText, bool listed) {
  std::string address(addressText);
  AsciiLowerInPlace(address);
  if (Status ok = CheckAddress(address); !ok) return ok;
  const std::string command = "RCPT TO:<" + address + ">";
  // Blind copies stay out of the transcript, which the debug page shows
  // (the log may name them: it holds addresses anyway).
  SendCommand(command + "\r\n", /*record=*/listed);
  SmtpReply reply = ReadReply();
  Record(reply.text);
  // A refused recipient does not stop the mail; it is told with the mail's
  // outcome.
  if (Refuses(reply.code)) refusedRecipients_.push_back(command + ": " + LogReply(reply));
  ++recipientsThisMail_;
  if (listed) {
    toList_ += address;
    toList_ += ", ";
  }
  return {};
}

Status SmtpClient::AbortMail(std::string_view command, const SmtpReply& reply) {
  if (!broken_) {
    SendCommand("RSET\r\n");
    Record(ReadReply().text);
  }
  return Refused(command, reply);
}

std::string SmtpClient::NextMessageId(const platform::LocalTime& now) {
  static const std::string token = RandomToken();
  std::string id;
  AppendPadded(id, now.year, 4);
  for (int part : {now.month, now.day, now.hour, now.minute, now.second}) AppendPadded(id, part, 2);
  id += "." + token + "." + std::to_string(mailsComposed_) + "@" +
        (localHostName_.empty() ? std::string("localhost") : localHostName_);
  return id;
}

Status SmtpClient::MsgBody(std::optional<std::string_view> body,
                           std::optional<std::string_view> subject, const MailExtras& extras) {
  // A mail nobody receives (an address file without addresses) is dropped.
  if (recipientsThisMail_ == 0) {
    if (connected_ && !broken_) {
      SendCommand("RSET\r\n");
      Record(ReadReply().text);
    }
    return {};
  }
  if (!body || !subject || !senderAddress_) return Fail(FailureKind::kMailIncomplete);

  ++mailsComposed_;
  // One reading of the clock dates the mail and stamps its Message-ID.
  const platform::LocalTime now = clock_.Now();
  const std::string messageId = NextMessageId(now);
  // The list without the ", " after its last entry.
  std::string_view to = toList_;
  if (to.ends_with(", ")) to.remove_suffix(2);
  const MailHeader header{*senderAddress_, extras.replyTo,  *subject, to, extraHeader_, now,
                          messageId,       extras.autoReply};
  const ComposedMail mail = ComposeMail(header, *body, extras.body);
  if (mail.longLineKept > 0 && options_.notices) {
    options_.notices->Note(NoticeKind::kLongLineKept,
                           "mail to " +
                               (to.empty() ? std::string("the address file") : std::string(to)) +
                               ", a line of " + std::to_string(mail.longLineKept) + " bytes");
  }
  const std::string& text = mail.text;
  recipientsThisMail_ = 0;

  SendCommand("DATA\r\n");
  SmtpReply data = ReadReply();
  Record(data.text);
  if (data.code != kStartMailInput) return AbortMail("DATA", data);

  // The text and the end-of-data mark in one send: nothing is awaited
  // between them.
  Record("\r\n.\r\n");
  if (!broken_ && !transport_.Send(text + "\r\n.\r\n")) broken_ = true;
  SmtpReply done = ReadReply();
  Record(done.text);
  if (Refuses(done.code)) return AbortMail("end of data", done);
  ++mailsAccepted_;
  if (options_.notices) {
    for (const std::string& refused : refusedRecipients_) {
      options_.notices->Note(NoticeKind::kRcptRefused, "server " + server_ + ": " + refused);
    }
  }
  refusedRecipients_.clear();
  return {};
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
