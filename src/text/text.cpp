#include "text/text.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace veltrano {

std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view word) {
  if (word.empty()) return 0;
  if (word.size() > text.size()) return std::nullopt;
  // Candidates are the places where the first character stands in either
  // case; memchr finds them fast (a tag's '<' has only one case). Each case
  // keeps its next place, so no byte is scanned twice for it.
  const char upper = AsciiToUpper(word.front());
  const char lower = AsciiToLower(word.front());
  const std::string_view rest = word.substr(1);
  const char* const end = text.data() + (text.size() - word.size() + 1);
  auto next = [end](const char* from, char c) {
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
  };
  const char* nextUpper = next(text.data(), upper);
  const char* nextLower = lower == upper ? nullptr : next(text.data(), lower);
  for (;;) {
    const char* hit = nextUpper;
    if (hit == nullptr || (nextLower != nullptr && nextLower < hit)) hit = nextLower;
    if (hit == nullptr) return std::nullopt;
    const std::size_t pos = static_cast<std::size_t>(hit - text.data());
    if (EqualsNoCase(text.substr(pos + 1, rest.size()), rest)) return pos;
    if (hit == nextUpper) nextUpper = hit + 1 < end ? next(hit + 1, upper) : nullptr;
    if (hit == nextLower) nextLower = hit + 1 < end ? next(hit + 1, lower) : nullptr;
  }
}

void TrimRight(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsTrimSpace(text[end - 1])) --end;
  text.resize(end);
}

void TrimLeft(std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && IsTrimSpace(text[start])) ++start;
  text.erase(0, start);
}

void Trim(std::string& text) {
  TrimRight(text);
  TrimLeft(text);
}

void Trim(std::optional<std::string>& text) {
  if (text) Trim(*text);
}

void AsciiLowerInPlace(std::string& text) {
  for (char& c : text) c = AsciiToLower(c);
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiToUpper(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiToUpper(x) == AsciiToUpper(y);
         });
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

long long LeadingInteger(std::string_view text, long long ceiling) {
  auto isCSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  std::size_t i = 0;
  while (i < text.size() && isCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    // value * 10 + digit would pass the ceiling: stop there, before any
    // arithmetic that could overflow.
    value = value > (ceiling - digit) / 10 ? ceiling : value * 10 + digit;
  }
  return negative ? -value : value;
}

void AppendPadded(std::string& out, long long value, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0 && n < 20);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}

void CutAtNul(std::string& text) {
  if (std::size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
}

std::string CollapseLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '\r' && text[i] != '\n') {
      out += text[i++];
      continue;
    }
    while (i < text.size() && (text[i] == '\r' || text[i] == '\n')) ++i;
    out += ' ';
  }
  return out;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

bool HasHighBytes(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  if (b < 0x80) return 1;
  // The lead byte fixes the length and the range of the second byte, which
  // rules out overlong forms, surrogates and code points above U+10FFFF.
  std::size_t more = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    more = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    more = 2;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    more = 3;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at <= more) return 0;
  for (std::size_t k = 1; k <= more; ++k) {
    const auto c = static_cast<unsigned char>(text[at + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
  }
  return more + 1;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8SequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::size_t CharacterCount(std::string_view text) {
  if (!IsValidUtf8(text)) return text.size();
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void AppendPrintable(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '\\') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
}

std::optional<unsigned long long> ParseDecimal(std::string_view text) {
  unsigned long long n = 0;
  const char* end = text.data() + text.size();
  // from_chars takes no sign for an unsigned type and stops at any other byte.
  auto [stop, error] = std::from_chars(text.data(), end, n);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return n;
}

}  // namespace veltrano
