// The encodings that keep a mail's text intact over plain SMTP (7-bit, lines
// of at most 998 octets): quoted-printable bodies (RFC 2045 6.7), encoded
// words in header values (RFC 2047) and header folding (RFC 5322 2.2.3).
//
// Every function takes any bytes and never fails; the results are 7-bit.
// Lines are kept to kFoldedLineLength where the text allows it and never
// exceed kMaxLineLength. Encoded words hold whole characters: a UTF-8
// sequence is never split between two of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// Longest line, without its CR LF, that SMTP must carry (RFC 5321 4.5.3.1.6).
inline constexpr std::size_t kMaxLineLength = 998;
// The length mail readers expect a header line to keep to (RFC 5322 2.1.1).
inline constexpr std::size_t kFoldedLineLength = 78;

// The length of the longest line of `text`, whose lines end in LF.
std::size_t LongestLine(std::string_view text);

// `text` (lines ending in LF) as a quoted-printable body: lines end in CR
// LF, each encoded line is at most 76 characters, long lines are broken
// with soft line breaks, '=' and bytes outside printable ASCII are =XX, and
// a space or tab that ends a line is =20 or =09.
std::string QuotedPrintable(std::string_view text);

// `text` (lines ending in LF) with every line longer than kMaxLineLength cut
// by soft line breaks ("=" and CR LF), for a body the administrator declared
// quoted-printable; nothing else changes. A cut never splits an =XX escape.
std::string SoftBreakLongLines(std::string_view text);

// `value` as encoded words ("=?charset?Q?...?=", RFC 2047 4.2) separated by
// CR LF and a space, for a header line of which `used` characters (the
// field name, the colon and a space) stand before the value. `charset` names
// how the bytes are to be read; with "UTF-8" they must be valid UTF-8.
std::string EncodedWords(std::string_view value, std::string_view charset, std::size_t used);

// `value` folded before spaces so that its lines keep to kFoldedLineLength
// where they can; none when a line would still exceed kMaxLineLength.
// Unfolding (removing each CR LF) gives `value` back.
std::optional<std::string> FoldAtSpaces(std::string_view value, std::size_t used);

}  // namespace veltrano
