#include "mail/message.hpp"

#include <algorithm>
#include <cstdio>

#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kMailerVersion = "2.1";

// A header value on one line, trimmed.
std::string OneLine(std::string_view value) {
  std::string out = CollapseLineBreaks(value);
  Trim(out);
  return out;
}

// The administrator's extra header as header lines (see the header comment);
// empty when nothing is left.
std::string HeaderLines(std::string_view text) {
  const std::string lf = NormalizeLineEnds(text);
  std::string out;
  for (std::string_view line : SplitLines(lf)) {
    if (std::all_of(line.begin(), line.end(), IsTrimSpace)) continue;
    if (line.front() == '.') out += '.';
    out += line;
    out += "\r\n";
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

int DayOfWeek(int year, int month, int day) {  // 0 = Sunday
  static const int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  int m = (month >= 1 && month <= 12) ? month - 1 : 0;
  return ((year + year / 4 - year / 100 + year / 400 + kMonthOffset[m] + day) % 7 + 7) % 7;
}

}  // namespace

std::string MailDate(const platform::LocalTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  long offset = t.utcOffsetSeconds / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[DayOfWeek(t.year, t.month, t.day)], t.day,
                kMonths[(t.month >= 1 && t.month <= 12) ? t.month - 1 : 0], t.year, t.hour,
                t.minute, t.second, sign, offset / 60 % 100, offset % 60);
  return buf;
}

std::string ComposeHeaderBlock(const MailHeader& h) {
  const std::string extra = h.extra ? HeaderLines(*h.extra) : std::string();
  std::string header;
  header += "From: " + OneLine(h.from) + "\r\n";
  header += "Subject: " + OneLine(h.subject) + "\r\n";
  header += "To: " + std::string(h.to) + "\r\n";
  // The line stays for its readers, but blind copies are never listed: every
  // recipient would see them.
  header += "bcc: \r\n";
  header += "X-Mailer: " + std::string(kMailerVersion) + "\r\n";
  if (!HasField(extra, "Date:")) header += "Date: " + MailDate(h.date) + "\r\n";
  if (!HasField(extra, "Message-ID:")) {
    header += "Message-ID: <" + std::string(h.messageId) + ">\r\n";
  }
  header += extra;
  return header;
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

std::string PrepareBodyForWire(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 8 + 2);
  bool lineStart = true;
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (lineStart && c == '.') out += '.';
    if (c == '\r' || c == '\n') {
      // CR LF, a lone CR and a lone LF each end one line.
      if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += "\r\n";
      lineStart = true;
    } else {
      out += c;
      lineStart = false;
    }
  }
  return out;
}

}  // namespace veltrano
