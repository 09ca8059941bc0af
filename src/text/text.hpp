// Small routines on 8-bit text that every subsystem uses.
//
// Letter case is ASCII only: a..z and A..Z have a case, every other byte
// (0x80 and above included) matches only itself. White space for trimming is
// exactly space, tab, CR and LF; vertical tab and form feed are not.
// Nothing here depends on the locale or on a terminating NUL.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

// Offset of the first occurrence of `word` in `text`, letters compared
// without regard to case, or none. An empty word is found at offset 0.
std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view word);

// Remove trailing, leading, or both kinds of white space in place.
void TrimRight(std::string& text);
void TrimLeft(std::string& text);
void Trim(std::string& text);
void Trim(std::optional<std::string>& text);  // none stays none

inline bool IsTrimSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
inline char AsciiToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char AsciiToLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
void AsciiLowerInPlace(std::string& text);
std::string AsciiUpper(std::string_view text);
// Whole-text equality, letters compared without regard to case.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The lines of LF-separated text, without their LFs. A final LF ends the
// last line; it does not start an empty one.
std::vector<std::string_view> SplitLines(std::string_view text);

// The number at the start of `text` the way C's atoi reads it (white space
// skipped, an optional sign, the digits up to the first other byte; 0
// without digits), with its magnitude held at `ceiling` (0 or more, up to
// LLONG_MAX) so that it never overflows.
long long LeadingInteger(std::string_view text, long long ceiling);

// `text` as a decimal number when it is one or more ASCII digits and
// nothing else (no sign, no white space) and fits; else none.
std::optional<unsigned long long> ParseDecimal(std::string_view text);

// Appends `value` (not negative) in decimal, with leading zeros to at least
// `width` digits: dates and times without the cost of printf.
void AppendPadded(std::string& out, long long value, int width);

// Cuts `text` at its first zero byte: a submitted value is a C string to
// everything downstream (mail text, command line, data file).
void CutAtNul(std::string& text);

// `text` with every run of CR and LF bytes replaced by one space: a value
// that must stay on one line (a header, a data record).
std::string CollapseLineBreaks(std::string_view text);

// Escapes & < > " ' for HTML text and attribute values.
std::string HtmlEscape(std::string_view text);

// Appends `text` with every byte outside printable ASCII, and the
// backslash, written as \xNN: a line for a log or a terminal that no
// outside text can break or fill with terminal sequences.
void AppendPrintable(std::string& out, std::string_view text);

// Whether any byte is 0x80 or above.
bool HasHighBytes(std::string_view text);

// Whether `text` is well-formed UTF-8 (RFC 3629): no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view text);

// The length of the well-formed UTF-8 sequence (1 for an ASCII byte) that
// starts at `at` (< text.size()), or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// The number of characters of valid UTF-8 text (bytes that do not continue
// a sequence); the number of bytes of any other text.
std::size_t CharacterCount(std::string_view text);

}  // namespace veltrano
