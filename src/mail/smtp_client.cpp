#include "mail/smtp_client.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include "expand/message_body.hpp"
#include "response/response.hpp"
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
constexpr std::string_view kMailerVersion = "2.1";

constexpr std::string_view kConnectionFailure =
    "An error occured while establishing a socketconnection.<br>\n"
    "Possible reasons include <ul>\n"
    "<li>A usable winsock.dll could not be found.\n"
    "<li>Your winsock.dll does not support 1.1 (It should unless you are using a very old "
    "version.\n"
    "<li>Veltrano could not resolve your hostname\n"
    "<li><b>Could not connect to the mail server (most likely problem)</b>\n"
    "<li>Your settings in the &lt;SMTPSERVER&gt; tag is incorrect\n"
    "</ul>";

bool IsReplySeparator(char c) {
  return c == ' ' || c == '-';
}

// The reply code the way atoi reads it, clamped: any code this large is a
// refusal.
int LeadingNumber(std::string_view token) {
  return static_cast<int>(LeadingInteger(token, 1000000000));
}

// An address that could break out of its command or header line.
bool IsUnsafeAddress(std::string_view address) {
  for (char c : address) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '<' || c == '>') return true;
  }
  return false;
}

void CheckAddress(std::string_view address) {
  if (IsUnsafeAddress(address)) {
    ReportFatal("Mail send error", "Invalid mail address: " + HtmlEscape(address));
  }
}

// A header value on one line: each run of CR and LF becomes one space, and
// white space at both ends goes.
std::string OneLine(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size();) {
    if (value[i] == '\r' || value[i] == '\n') {
      while (i < value.size() && (value[i] == '\r' || value[i] == '\n')) ++i;
      out += ' ';
    } else {
      out += value[i++];
    }
  }
  Trim(out);
  return out;
}

// The administrator's extra header as header lines: every line end CR LF,
// blank lines dropped (one would end the header block early), and a leading
// "." doubled like in the body (a lone one would end the mail data). Empty
// when nothing is left.
std::string HeaderLines(std::string_view text) {
  const std::string lf = NormalizeLineEnds(text);
  std::string out;
  for (std::string_view line : SplitLines(lf)) {
    if (std::all_of(line.begin(), line.end(), IsTrimSpace)) continue;
    if (!out.empty()) out += "\r\n";
    if (line.front() == '.') out += '.';
    out += line;
  }
  return out;
}

// True when a line of `header` starts with `field` (e.g. "Date:"), letters
// compared without regard to case.
bool HasField(std::string_view header, std::string_view field) {
  for (std::string_view line : SplitLines(header)) {
    if (EqualsNoCase(line.substr(0, field.size()), field)) return true;
  }
  return false;
}

// The list without the ", " after its last entry.
std::string_view ListValue(std::string_view list) {
  if (list.size() >= 2 && list.substr(list.size() - 2) == ", ") list.remove_suffix(2);
  return list;
}

int DayOfWeek(int year, int month, int day) {  // 0 = Sunday
  static const int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  int m = (month >= 1 && month <= 12) ? month - 1 : 0;
  return ((year + year / 4 - year / 100 + year / 400 + kMonthOffset[m] + day) % 7 + 7) % 7;
}

// RFC 5322 date-time in local time with a numeric zone.
std::string MailDate(const platform::LocalTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset = t.utcOffsetSeconds / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[DayOfWeek(t.year, t.month, t.day)], t.day,
                kMonths[(t.month >= 1 && t.month <= 12) ? t.month - 1 : 0], t.year, t.hour,
                t.minute, t.second, sign, offset / 60 % 100, offset % 60);
  return buf;
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

}  // namespace

std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view server) {
  std::size_t colon = server.rfind(':');
  if (colon == std::string_view::npos)
    return SmtpServerAddress{std::string(server), kDefaultSmtpPort};
  std::string_view digits = server.substr(colon + 1);
  // The section is not trimmed; white space after the port is let through
  // as it is after a dotted address.
  while (!digits.empty() && IsTrimSpace(digits.back())) digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return SmtpServerAddress{std::string(server.substr(0, colon)), static_cast<std::uint16_t>(port)};
}

SmtpClient::SmtpClient(const platform::Clock& clock, Options options)
    : clock_(clock), options_(options) {}

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
  return LeadingNumber(line.substr(i, end - i));
}

SmtpReply SmtpClient::ReadReply() {
  SmtpReply reply;
  if (broken_) return reply;
  const auto deadline = std::chrono::steady_clock::now() + options_.timeouts.io;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = std::chrono::milliseconds(0);
    if (socket_.Receive(reply.text, kReceiveChunk, left) != platform::ReceiveStatus::kData ||
        reply.text.size() > kMaxReplyBytes) {
      broken_ = true;  // what arrives later would answer the wrong command
      reply.code = -1;
      return reply;
    }
    if (std::optional<int> code = CompleteReplyCode(reply.text)) {
      reply.code = *code;
      return reply;
    }
  }
}

void SmtpClient::Record(std::string_view protocolText) {
  transcript_ += HtmlEscape(protocolText);
}

void SmtpClient::SendCommand(std::string_view command, bool record) {
  if (record) Record(command);
  if (!broken_ && !socket_.SendAll(command)) broken_ = true;
}

bool SmtpClient::ConnectAndHelo(std::string_view server) {
  std::optional<std::string> host = platform::LocalHostName();
  std::optional<SmtpServerAddress> address = ParseSmtpServer(server);
  if (!host || !address ||
      !socket_.Connect(platform::ResolveIpv4(address->host), address->port, options_.timeouts)) {
    transcript_ = kConnectionFailure;
    return false;
  }
  localHostName_ = *host;
  Record(ReadReply().text);  // the greeting; its code is not examined
  SendCommand("HELO " + localHostName_ + "\r\n");
  SmtpReply helo = ReadReply();
  if (helo.code >= kRefusal || helo.code < 0) {
    transcript_ +=
        "\nError occured while communicating with the mail server (SENDTO's HELO).  "
        "The mail server returned <p>" +
        HtmlEscape(helo.text) + "<p> ";
    return false;
  }
  Record(helo.text);
  return true;
}

bool SmtpClient::MailFrom(std::string_view server, std::string& sender) {
  Trim(sender);
  CheckAddress(sender);
  if (!connected_) {
    if (!ConnectAndHelo(server)) ReportFatal("Socket Initialization error", transcript_);
    connected_ = true;
  }
  recipientsThisMail_ = 0;
  SendCommand("MAIL FROM:<" + sender + ">\r\n");
  SmtpReply reply = ReadReply();
  if (reply.code >= kRefusal || reply.code < 0) {
    transcript_ +=
        "\nError occured while communicating with the mail server (SENDTO's MAIL "
        "FROM).  The mail server returned<p>" +
        HtmlEscape(reply.text) + ".<p> ";
    return false;
  }
  Record(reply.text);
  senderAddress_ = sender;
  return true;
}

void SmtpClient::RcptTo(std::string& address) {
  AsciiLowerInPlace(address);
  CheckAddress(address);
  SendCommand("RCPT TO:<" + address + ">\r\n");
  Record(ReadReply().text);  // a refused recipient does not stop the mail
  ++recipientsThisMail_;
  toList_ += address;
  toList_ += ", ";
}

void SmtpClient::RcptBcc(std::string& address) {
  AsciiLowerInPlace(address);
  CheckAddress(address);
  // Blind copies stay out of the transcript, which the debug page shows.
  SendCommand("RCPT TO:<" + address + ">\r\n", /*record=*/false);
  Record(ReadReply().text);
  ++recipientsThisMail_;
}

void SmtpClient::AbortMail(std::string_view title) {
  if (!broken_) {
    SendCommand("RSET\r\n");
    Record(ReadReply().text);
  }
  ReportFatal(title, transcript_);
}

std::string SmtpClient::ComposeHeader(std::string_view subject) const {
  std::string extra = extraHeader_ ? HeaderLines(*extraHeader_) : std::string();
  std::string header;
  header += "From: " + OneLine(*senderAddress_) + "\r\n";
  header += "Subject: " + OneLine(subject) + "\r\n";
  header += "To: " + std::string(ListValue(toList_)) + "\r\n";
  // The line stays for its readers, but blind copies are never listed: every
  // recipient would see them.
  header += "bcc: \r\n";
  header += "X-Mailer: " + std::string(kMailerVersion) + "\r\n";
  if (!HasField(extra, "Date:")) header += "Date: " + MailDate(clock_.Now()) + "\r\n";
  if (!HasField(extra, "Message-ID:")) {
    static const std::string token = RandomToken();
    const platform::LocalTime now = clock_.Now();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    header += "Message-ID: <" + std::string(stamp) + "." + token + "." +
              std::to_string(mailsComposed_) + "@" +
              (localHostName_.empty() ? std::string("localhost") : localHostName_) + ">\r\n";
  }
  if (!extra.empty()) header += extra + "\r\n";
  return header;
}

void SmtpClient::MsgBody(std::optional<std::string_view> body,
                         std::optional<std::string_view> subject) {
  // A mail nobody receives (an address file without addresses) is dropped.
  if (recipientsThisMail_ == 0) {
    if (connected_ && !broken_) {
      SendCommand("RSET\r\n");
      Record(ReadReply().text);
    }
    return;
  }
  if (!body || !subject || !senderAddress_) ReportFatal(std::nullopt, kMsgBodyFailureMessage);

  ++mailsComposed_;
  const std::string text = ComposeHeader(*subject) + "\r\n" + PrepareBodyForWire(*body) + "\r\n";
  recipientsThisMail_ = 0;

  SendCommand("DATA\r\n");
  SmtpReply data = ReadReply();
  Record(data.text);
  if (data.code != kStartMailInput) AbortMail("SMTP Communication error");

  if (!broken_ && !socket_.SendAll(text)) broken_ = true;
  SendCommand("\r\n.\r\n");
  SmtpReply done = ReadReply();
  Record(done.text);
  if (done.code >= kRefusal || done.code < 0) AbortMail("SMTP Communication error");
}

int SmtpClient::Quit() {
  if (!connected_) return 0;
  SendCommand("QUIT\r\n");
  SmtpReply reply = ReadReply();
  Record(reply.text);
  socket_.Close();
  return reply.code;
}

}  // namespace veltrano
