#include "mail/message.hpp"

#include <algorithm>
#include <chrono>

#include "mail/mime.hpp"
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

// The rest of the first line of `header` that starts with `field` (e.g.
// "Date:"), letters compared without regard to case; none without one.
std::optional<std::string_view> FieldValue(std::string_view header, std::string_view field) {
  for (std::string_view line : SplitLines(header)) {
    if (EqualsNoCase(line.substr(0, field.size()), field)) return line.substr(field.size());
  }
  return std::nullopt;
}

bool HasField(std::string_view header, std::string_view field) {
  return FieldValue(header, field).has_value();
}

bool DeclaresQuotedPrintable(std::string_view header) {
  std::optional<std::string_view> encoding = FieldValue(header, "Content-Transfer-Encoding:");
  if (!encoding) return false;
  std::string value(*encoding);
  Trim(value);
  return EqualsNoCase(value, "quoted-printable");
}

// The charset that reads `text` as it was written: UTF-8 when it is valid
// UTF-8 (ASCII is), else ISO-8859-1, in which every byte is a character.
std::string_view CharsetOf(std::string_view text) {
  return IsValidUtf8(text) ? "UTF-8" : "ISO-8859-1";
}

// The Subject line: as it is when it is ASCII, fits on a line of
// kFoldedLineLength and holds nothing a reader would decode ("=?" starts an
// encoded word); folded at its spaces when it is longer.
std::string SubjectLine(std::string_view subject) {
  constexpr std::string_view kName = "Subject: ";
  std::string line(kName);
  if (HasHighBytes(subject) || subject.find("=?") != std::string_view::npos) {
    line += EncodedWords(subject, CharsetOf(subject), kName.size());
  } else if (kName.size() + subject.size() <= kFoldedLineLength) {
    line += subject;
  } else if (std::optional<std::string> folded = FoldAtSpaces(subject, kName.size())) {
    line += *folded;
  } else {
    line += EncodedWords(subject, CharsetOf(subject), kName.size());
  }
  return line + "\r\n";
}

}  // namespace

std::string MailDate(const platform::LocalTime& t) {
  // RFC 5322 names days and months in English, whatever the locale.
  static constexpr std::string_view kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  namespace chrono = std::chrono;
  const chrono::year_month_day ymd{chrono::year{t.year},
                                   chrono::month{static_cast<unsigned>(t.month)},
                                   chrono::day{static_cast<unsigned>(t.day)}};
  const chrono::weekday weekday{chrono::sys_days{ymd}};
  long offset = t.utcOffsetSeconds / 60;
  char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  std::string date(kDays[weekday.c_encoding()]);
  date += ", ";
  AppendPadded(date, t.day, 2);
  date += ' ';
  date += kMonths[(t.month >= 1 && t.month <= 12) ? t.month - 1 : 0];
  date += ' ';
  AppendPadded(date, t.year, 4);
  date += ' ';
  AppendPadded(date, t.hour, 2);
  date += ':';
  AppendPadded(date, t.minute, 2);
  date += ':';
  AppendPadded(date, t.second, 2);
  date += ' ';
  date += sign;
  AppendPadded(date, offset / 60 % 100, 2);
  AppendPadded(date, offset % 60, 2);
  return date;
}

ComposedMail ComposeMail(const MailHeader& h, std::string_view body, BodyKind kind) {
  const std::string extra = h.extra ? HeaderLines(*h.extra) : std::string();
  const std::string from = OneLine(h.from);
  const std::string subject = OneLine(h.subject);
  const bool text = kind == BodyKind::kText;
  const std::string lines = text ? NormalizeLineEnds(body) : std::string();
  const std::size_t longest = LongestLine(lines);
  const bool adminEncoding =
      HasField(extra, "Content-Type:") || HasField(extra, "Content-Transfer-Encoding:");
  const bool highBytes = HasHighBytes(from) || HasHighBytes(subject) || HasHighBytes(h.to) ||
                         (h.replyTo && HasHighBytes(*h.replyTo)) || HasHighBytes(lines);
  const bool mime = text && !adminEncoding && (highBytes || longest > kMaxLineLength);

  ComposedMail mail;
  std::string& out = mail.text;
  out += "From: " + from + "\r\n";
  if (h.replyTo) out += "Reply-To: " + std::string(*h.replyTo) + "\r\n";
  out += SubjectLine(subject);
  out += "To: " + std::string(h.to) + "\r\n";
  // The line stays for its readers, but blind copies are never listed: every
  // recipient would see them.
  out += "bcc: \r\n";
  out += "X-Mailer: " + std::string(kMailerVersion) + "\r\n";
  if (!HasField(extra, "Date:")) out += "Date: " + MailDate(h.date) + "\r\n";
  if (!HasField(extra, "Message-ID:")) out += "Message-ID: <" + std::string(h.messageId) + ">\r\n";
  // RFC 3834: other responders and vacation programs do not answer it.
  if (h.autoReply && !HasField(extra, "Auto-Submitted:")) {
    out += "Auto-Submitted: auto-replied\r\n";
  }
  if (mime) {
    if (!HasField(extra, "MIME-Version:")) out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=" + std::string(CharsetOf(lines)) + "\r\n";
    out += "Content-Transfer-Encoding: quoted-printable\r\n";
  }
  out += extra;
  out += "\r\n";

  if (mime) {
    out += PrepareBodyForWire(QuotedPrintable(lines));
  } else if (text && adminEncoding && longest > kMaxLineLength) {
    if (DeclaresQuotedPrintable(extra)) {
      out += PrepareBodyForWire(SoftBreakLongLines(lines));
    } else {
      out += PrepareBodyForWire(body);
      mail.longLineKept = longest;
    }
  } else {
    out += PrepareBodyForWire(body);
  }
  out += "\r\n";
  return mail;
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
