// One mail's text, from its parts to the bytes of the SMTP DATA phase.
//
// ComposeHeaderBlock writes the header lines, always in this order: From,
// Subject, To, bcc (its value always empty: blind copies are never listed),
// X-Mailer, Date and Message-ID (each unless the extra header has that field,
// matched without regard to case at a line start), then the administrator's
// extra header. From and Subject stay on one line (each run of CR/LF becomes
// one space, and the value is trimmed); the extra header may hold several
// lines: line ends become CR LF, blank lines are dropped (one would end the
// header block early) and a leading "." is doubled as in the body.
//
// PrepareBodyForWire is the one conversion of a body to the wire. Every
// body, whether the main body, the address-file copy, a response body or PGP
// armour, passes through it exactly once: CR LF, a lone LF and a lone CR each
// become CR LF, and every line that begins with "." gets one more "." (first
// and last lines too), so no line of a body can end the DATA phase early or
// lose its dot at the server. No line end is added at the end.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system.hpp"

namespace veltrano {

struct MailHeader {
  std::string_view from;
  std::string_view subject;
  std::string_view to;                    // the To list, addresses joined by ", "
  std::optional<std::string_view> extra;  // MAILHDR or RMAILHDR, as the template has it
  platform::LocalTime date;
  std::string_view messageId;  // without angle brackets
};

// The header lines, each ending in CR LF.
std::string ComposeHeaderBlock(const MailHeader& header);

std::string PrepareBodyForWire(std::string_view body);

// Every CR LF and every lone CR in `text` as LF.
std::string NormalizeLineEnds(std::string_view text);

// RFC 5322 date-time in local time with a numeric zone, e.g.
// "Sat, 07 Mar 1998 14:05:09 +0100".
std::string MailDate(const platform::LocalTime& time);

}  // namespace veltrano
