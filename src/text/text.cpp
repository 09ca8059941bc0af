#include "text/text.hpp"

#include <algorithm>

namespace veltrano {

char AsciiToUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char AsciiToLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsTrimSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view word) {
  auto it = std::search(text.begin(), text.end(), word.begin(), word.end(),
                        [](char a, char b) { return AsciiToUpper(a) == AsciiToUpper(b); });
  if (it == text.end() && !word.empty()) return std::nullopt;
  return static_cast<std::size_t>(it - text.begin());
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
    value = std::min(ceiling, value * 10 + (text[i] - '0'));
  }
  return negative ? -value : value;
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

}  // namespace veltrano
