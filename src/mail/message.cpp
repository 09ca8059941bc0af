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

// The values of the header lines every mail has, each on one line, and
// the extra header as lines.
struct HeaderValues {
  explicit HeaderValues(const MailHeader& h)
      : extra(h.extra ? HeaderLines(*h.extra) : std::string()),
        from(OneLine(h.from)),
        subject(OneLine(h.subject)) {}

  // From to Auto-Submitted: every header line before the MIME lines.
  std::string Leading(const MailHeader& h) const {
    std::string out = "From: " + from + "\r\n";
    if (h.replyTo) out += "Reply-To: " + std::string(*h.replyTo) + "\r\n";
    out += SubjectLine(subject);
    out += "To: " + std::string(h.to) + "\r\n";
    // The line stays for its readers, but blind copies are never listed:
    // every recipient would see them.
    out += "bcc: \r\n";
    out += "X-Mailer: " + std::string(kMailerVersion) + "\r\n";
    if (!HasField(extra, "Date:")) out += "Date: " + MailDate(h.date) + "\r\n";
    if (!HasField(extra, "Message-ID:")) {
      out += "Message-ID: <" + std::string(h.messageId) + ">\r\n";
    }
    // RFC 3834: other responders and vacation programs do not answer it.
    if (h.autoReply && !HasField(extra, "Auto-Submitted:")) {
      out += "Auto-Submitted: auto-replied\r\n";
    }
    return out;
  }

  std::string extra;
  std::string from;
  std::string subject;
};

// From here on, what only mails with parts need: cold, as
// mail/attachments.hpp says.

// The extra header's lines split: Content-Type and Content-Transfer-Encoding
// (with their continuation lines), which describe the text, and the others.
struct ContentFields {
  std::string content;
  std::string others;
};

[[gnu::cold]] ContentFields SplitContentFields(std::string_view extra) {
  ContentFields fields;
  std::string* into = &fields.others;
  for (std::string_view line : SplitLines(extra)) {
    if (line.front() != ' ' && line.front() != '\t') {
      const bool content = EqualsNoCase(line.substr(0, 13), "Content-Type:") ||
                           EqualsNoCase(line.substr(0, 26), "Content-Transfer-Encoding:");
      into = content ? &fields.content : &fields.others;
    }
    *into += line;
    *into += '\n';
  }
  // The lines came with CR LF; `others` goes back into the header as such.
  fields.content = NormalizeLineEnds(fields.content);
  return fields;
}

// MIME-Version (unless the extra header has it) and a multipart Content-Type.
[[gnu::cold]] std::string MultipartHeader(std::string_view extra, std::string_view subtype,
                                          std::string_view boundary) {
  std::string out;
  if (!HasField(extra, "MIME-Version:")) out += "MIME-Version: 1.0\r\n";
  return out + "Content-Type: multipart/" + std::string(subtype) + ";\r\n boundary=\"" +
         std::string(boundary) + "\"\r\n";
}

// The body as a MIME part, with LF line ends: its Content-Type and
// Content-Transfer-Encoding lines (the extra header's `content` lines when
// it has them), a blank line and the body, encoded as those lines say.
[[gnu::cold]] std::string TextPart(std::string_view body, const std::string& content,
                                   std::size_t& longLineKept) {
  const std::string lines = NormalizeLineEnds(body);
  const std::size_t longest = LongestLine(lines);
  if (!content.empty()) {
    if (longest <= kMaxLineLength) return content + "\n" + lines;
    if (DeclaresQuotedPrintable(content)) return content + "\n" + SoftBreakLongLines(lines);
    longLineKept = longest;
    return content + "\n" + lines;
  }
  if (HasHighBytes(lines) || longest > kMaxLineLength) {
    return "Content-Type: text/plain; charset=" + std::string(CharsetOf(lines)) +
           "\nContent-Transfer-Encoding: quoted-printable\n\n" +
           NormalizeLineEnds(QuotedPrintable(lines));
  }
  return "Content-Type: text/plain; charset=us-ascii\nContent-Transfer-Encoding: 7bit\n\n" + lines;
}

// `text` (a TextPart) and the files as the parts of a multipart/mixed body,
// with LF line ends.
[[gnu::cold]] MimeEntity MixedEntity(std::string_view text,
                                     const std::vector<Attachment>& attachments,
                                     std::string_view boundary) {
  const std::string delimiter = "--" + std::string(boundary);
  MimeEntity entity;
  // Each part's line end before a delimiter belongs to the delimiter.
  entity.head = delimiter + "\n" + std::string(text) + "\n";
  std::string* next = &entity.head;
  for (const Attachment& file : attachments) {
    *next += delimiter + "\n" + AttachmentHeader(file.fileName) + "\n";
    entity.pieces.push_back({file.base64, {}});
    next = &entity.pieces.back().after;
  }
  *next += delimiter + "--\n";
  return entity;
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

ComposedMail ComposeMail(const MailHeader& h, std::string_view body, BodyKind kind,
                         const std::vector<Attachment>& attachments) {
  const HeaderValues values(h);
  if (kind == BodyKind::kText && !attachments.empty()) {
    const ContentFields fields = SplitContentFields(values.extra);
    ComposedMail mail;
    const MimeEntity mixed =
        MixedEntity(TextPart(body, fields.content, mail.longLineKept), attachments, h.boundary);
    mail.text = values.Leading(h) + MultipartHeader(values.extra, "mixed", h.boundary) +
                fields.others + "\r\n" + PrepareBodyForWire(mixed.head);
    mail.pieces = mixed.pieces;
    return mail;
  }
  const std::string& extra = values.extra;
  const bool text = kind == BodyKind::kText;
  const std::string lines = text ? NormalizeLineEnds(body) : std::string();
  const std::size_t longest = LongestLine(lines);
  const bool adminEncoding =
      HasField(extra, "Content-Type:") || HasField(extra, "Content-Transfer-Encoding:");
  const bool highBytes = HasHighBytes(values.from) || HasHighBytes(values.subject) ||
                         HasHighBytes(h.to) || (h.replyTo && HasHighBytes(*h.replyTo)) ||
                         HasHighBytes(lines);
  const bool mime = text && !adminEncoding && (highBytes || longest > kMaxLineLength);

  ComposedMail mail;
  std::string& out = mail.text;
  out = values.Leading(h);
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

std::vector<std::string_view> MimeEntity::Texts() const {
  std::vector<std::string_view> texts{head};
  for (const MailPiece& piece : pieces) {
    texts.push_back(*piece.shared);
    texts.push_back(piece.after);
  }
  return texts;
}

[[gnu::cold]] MimeEntity EncryptedEntity(const MailHeader& h, std::string_view body,
                                         const std::vector<Attachment>& attachments) {
  const ContentFields fields = SplitContentFields(HeaderValues(h).extra);
  std::size_t longLineKept = 0;
  std::string text = TextPart(body, fields.content, longLineKept);
  if (attachments.empty()) return {std::move(text), {}};
  // Nested in the armour, so apart from the mail's own parts; its own all
  // the same.
  const std::string boundary = std::string(h.boundary) + ".1";
  MimeEntity mixed = MixedEntity(text, attachments, boundary);
  mixed.head = "Content-Type: multipart/mixed;\n boundary=\"" + boundary + "\"\n\n" + mixed.head;
  return mixed;
}

[[gnu::cold]] ComposedMail ComposeEncrypted(const MailHeader& h, SharedText armour) {
  const HeaderValues values(h);
  const ContentFields fields = SplitContentFields(values.extra);
  const std::string delimiter = "--" + std::string(h.boundary);
  ComposedMail mail;
  mail.text = values.Leading(h) +
              MultipartHeader(values.extra, "encrypted; protocol=\"application/pgp-encrypted\"",
                              h.boundary) +
              fields.others + "\r\n" + delimiter +
              "\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n\r\n" + delimiter +
              "\r\nContent-Type: application/octet-stream\r\n\r\n";
  const bool wholeLines = armour->empty() || armour->back() == '\n';
  mail.pieces.push_back({std::move(armour), (wholeLines ? "" : "\n") + delimiter + "--\n"});
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
  WireWriter writer;
  writer.Feed(body, out);
  writer.Finish(out);
  return out;
}

void WireWriter::Feed(std::string_view text, std::string& out) {
  for (std::size_t i = 0; i < text.size();) {
    if (pendingCr_) {
      // CR LF, a lone CR and a lone LF each end one line.
      pendingCr_ = false;
      out += "\r\n";
      lineStart_ = true;
      if (text[i] == '\n' && ++i == text.size()) break;
    }
    if (lineStart_ && text[i] == '.') out += '.';
    std::size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    if (end > i) {
      out.append(text.substr(i, end - i));
      lineStart_ = false;
    }
    if (end == text.size()) break;
    if (text[end] == '\r') {
      pendingCr_ = true;
    } else {
      out += "\r\n";
      lineStart_ = true;
    }
    i = end + 1;
  }
}

void WireWriter::Finish(std::string& out) {
  if (!pendingCr_) return;
  pendingCr_ = false;
  out += "\r\n";
  lineStart_ = true;
}

}  // namespace veltrano
