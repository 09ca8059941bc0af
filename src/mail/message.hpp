// One mail's text, from its parts to the bytes of the SMTP DATA phase.
//
// ComposeMail writes the header lines, always in this order: From, Reply-To
// (when given), Subject, To, bcc (its value always empty: blind copies are
// never listed), X-Mailer, Date and Message-ID, Auto-Submitted on automatic
// replies, the MIME lines when the body needs them, then the administrator's
// extra header. Date, Message-ID, Auto-Submitted and MIME-Version are left
// out when the extra header has that field (matched without regard to case
// at a line start). From and Subject stay on one line (each run of CR/LF
// becomes one space, and the value is trimmed); the extra header may hold
// several lines: line ends become CR LF, blank lines are dropped (one would
// end the header block early) and a leading "." is doubled as in the body.
//
// MIME only when needed, so that a mail of ASCII text with short lines goes
// out as it always did. A mail whose header values or body hold a byte of
// 0x80 or above, or whose body has a line over kMaxLineLength octets, gets
// MIME-Version, Content-Type text/plain with its charset and a
// quoted-printable body. The body's charset is UTF-8 when it is valid
// UTF-8, else ISO-8859-1 (every byte is a character in it). When
// the extra header has its own Content-Type or Content-Transfer-Encoding the
// administrator has chosen: the body is left alone, except that long lines
// get soft line breaks if the header declares quoted-printable (otherwise
// they stay, and ComposedMail says so). PGP armour is ASCII with short lines
// and always goes out as it is.
//
// Header values: a subject with a byte of 0x80 or above becomes encoded
// words in its own charset, chosen as the body's is but apart from it, so a
// subject and a body typed in different charsets both read right. So does
// an ASCII subject holding "=?", which readers would otherwise decode as an
// encoded word into other text; no MIME-Version comes with it, so an ASCII
// mail stays as it was. An ASCII subject whose line would be longer than
// kFoldedLineLength is folded at its spaces (encoded words only when no
// fold keeps its lines within kMaxLineLength). From,
// To and Reply-To hold addresses, which encoded words must not stand in
// (RFC 2047 5), so they go out as they are.
//
// PrepareBodyForWire is the one conversion of a body to the wire. Every
// body, whether the main body, the address-file copy, a response body, PGP
// armour or a quoted-printable encoding of any of them, passes through it
// exactly once: CR LF, a lone LF and a lone CR each become CR LF, and every
// line that begins with "." gets one more "." (first and last lines too), so
// no line of a body can end the DATA phase early or lose its dot at the
// server. No line end is added at the end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/system.hpp"

namespace veltrano {

struct MailHeader {
  std::string_view from;
  std::optional<std::string_view> replyTo;  // an address the caller checked
  std::string_view subject;
  std::string_view to;                    // the To list, addresses joined by ", "
  std::optional<std::string_view> extra;  // MAILHDR or RMAILHDR, as the template has it
  platform::LocalTime date;
  std::string_view messageId;  // without angle brackets
  bool autoReply = false;      // a response mail: Auto-Submitted: auto-replied
};

enum class BodyKind {
  kText,    // the template's text with the visitor's values
  kArmour,  // PGP armour, sent as it is
};

struct ComposedMail {
  std::string text;  // the header lines, a blank line, the body for the wire, CR LF
  // The longest body line, when one over kMaxLineLength octets was left as
  // it is because the administrator's header chose the encoding; else 0.
  std::size_t longLineKept = 0;
};

ComposedMail ComposeMail(const MailHeader& header, std::string_view body, BodyKind kind);

std::string PrepareBodyForWire(std::string_view body);

// Every CR LF and every lone CR in `text` as LF.
std::string NormalizeLineEnds(std::string_view text);

// RFC 5322 date-time in local time with a numeric zone, e.g.
// "Sat, 07 Mar 1998 14:05:09 +0100".
std::string MailDate(const platform::LocalTime& time);

}  // namespace veltrano
