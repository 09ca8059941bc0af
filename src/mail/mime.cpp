#include "mail/mime.hpp"

#include <algorithm>

#include "text/text.hpp"

namespace veltrano {

namespace {

// RFC 2045 6.7 (5): encoded lines are at most 76 characters, the "=" of a
// soft line break included.
constexpr std::size_t kMaxEncodedLine = 76;
// RFC 2047 2: an encoded word is at most 75 characters.
constexpr std::size_t kMaxEncodedWord = 75;

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, unsigned char byte) {
  out += '=';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0F];
}

bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t';
}

// Calls `f` with each line of LF-separated text, the last one included even
// when empty, and whether more lines follow.
template <typename F>
void ForEachLine(std::string_view text, F f) {
  for (;;) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      f(text, false);
      return;
    }
    f(text.substr(0, end), true);
    text.remove_prefix(end + 1);
  }
}

void EncodeLine(std::string_view line, std::string& out) {
  std::size_t column = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    // White space at the end of a line would be lost on the way.
    const bool literal = (byte >= 33 && byte <= 126 && byte != '=') ||
                         (IsWhiteSpace(line[i]) && i + 1 < line.size());
    const std::size_t width = literal ? 1 : 3;
    if (column + width > kMaxEncodedLine - 1) {
      out += "=\r\n";
      column = 0;
    }
    if (literal) {
      out += line[i];
    } else {
      AppendEscape(out, byte);
    }
    column += width;
  }
}

// The number of bytes of the UTF-8 sequence that `lead` starts (1 for a
// byte that starts none, so that any input is cut somewhere).
std::size_t SequenceLength(char lead) {
  const auto b = static_cast<unsigned char>(lead);
  if ((b & 0xE0) == 0xC0) return 2;
  if ((b & 0xF0) == 0xE0) return 3;
  if ((b & 0xF8) == 0xF0) return 4;
  return 1;
}

// One byte of an encoded word's text (RFC 2047 4.2, the characters allowed
// in every place an encoded word may stand).
void AppendQ(std::string& out, char c) {
  const auto byte = static_cast<unsigned char>(c);
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
      std::string_view("!*+-/").find(c) != std::string_view::npos) {
    out += c;
  } else if (c == ' ') {
    out += '_';
  } else {
    AppendEscape(out, byte);
  }
}

}  // namespace

std::size_t LongestLine(std::string_view text) {
  std::size_t longest = 0;
  ForEachLine(text, [&](std::string_view line, bool) { longest = std::max(longest, line.size()); });
  return longest;
}

std::string QuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  ForEachLine(text, [&](std::string_view line, bool more) {
    EncodeLine(line, out);
    if (more) out += "\r\n";
  });
  return out;
}

std::string SoftBreakLongLines(std::string_view text) {
  std::string out;
  ForEachLine(text, [&](std::string_view line, bool more) {
    while (line.size() > kMaxLineLength) {
      std::size_t cut = kMaxLineLength - 1;  // and the "="
      std::size_t escape = line.substr(cut - 2, 2).rfind('=');
      if (escape != std::string_view::npos) cut = cut - 2 + escape;
      out += line.substr(0, cut);
      out += "=\n";
      line.remove_prefix(cut);
    }
    out += line;
    if (more) out += '\n';
  });
  return out;
}

std::string EncodedWords(std::string_view value, std::string_view charset, std::size_t used) {
  const std::string open = "=?" + std::string(charset) + "?Q?";
  constexpr std::string_view close = "?=";
  const bool utf8 = EqualsNoCase(charset, "UTF-8");
  // The first word shares its line with the field name; each later one has
  // a line of its own after the folding space.
  std::size_t room =
      std::min(kMaxEncodedWord, kFoldedLineLength - std::min(used, kFoldedLineLength));
  std::string out;
  std::string word;
  std::string piece;
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t n = std::min(utf8 ? SequenceLength(value[i]) : 1, value.size() - i);
    piece.clear();
    for (char c : value.substr(i, n)) AppendQ(piece, c);
    i += n;
    if (!word.empty() && open.size() + word.size() + piece.size() + close.size() > room) {
      out += open + word + std::string(close) + "\r\n ";
      word.clear();
      room = kMaxEncodedWord;
    }
    word += piece;
  }
  if (!word.empty()) out += open + word + std::string(close);
  return out;
}

std::optional<std::string> FoldAtSpaces(std::string_view value, std::size_t used) {
  std::string out;
  std::size_t column = used;
  bool lineHasText = false;
  for (std::size_t i = 0; i < value.size();) {
    // A run of white space and the word after it: a fold goes before the run,
    // so no line is white space alone.
    std::size_t end = i;
    while (end < value.size() && IsWhiteSpace(value[end])) ++end;
    const bool hasWord = end < value.size();
    while (end < value.size() && !IsWhiteSpace(value[end])) ++end;
    std::string_view segment = value.substr(i, end - i);
    if (lineHasText && hasWord && IsWhiteSpace(segment.front()) &&
        column + segment.size() > kFoldedLineLength) {
      out += "\r\n";
      column = 0;
    }
    out += segment;
    column += segment.size();
    lineHasText = true;
    if (column > kMaxLineLength) return std::nullopt;
    i = end;
  }
  return out;
}

}  // namespace veltrano
