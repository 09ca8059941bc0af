// Decoders for what mail/mime.hpp encodes, so that tests and fuzz targets can
// check round trips: decode(encode(x)) == x. Strict: anything an encoder
// must not produce makes the result none.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrano::testing {

inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;  // encoders write upper-case hexadecimal only
}

// A quoted-printable body with CR LF line ends back to text with LF line
// ends; soft line breaks are removed.
inline std::optional<std::string> DecodeQuotedPrintable(std::string_view encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char c = encoded[i];
    if (c == '\r') {
      if (encoded.substr(i, 2) != "\r\n") return std::nullopt;
      out += '\n';
      ++i;
    } else if (c == '=') {
      if (encoded.substr(i + 1, 2) == "\r\n") {
        i += 2;
        continue;
      }
      if (i + 2 >= encoded.size()) return std::nullopt;
      const int high = HexDigitValue(encoded[i + 1]), low = HexDigitValue(encoded[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// A header value of Q encoded words in `charset`, folded with CR LF and a
// space between them, back to the bytes they hold.
inline std::optional<std::string> DecodeEncodedWords(std::string_view value,
                                                     std::string_view charset) {
  const std::string open = "=?" + std::string(charset) + "?Q?";
  std::string out;
  while (!value.empty()) {
    if (!value.starts_with(open)) return std::nullopt;
    value.remove_prefix(open.size());
    const std::size_t close = value.find("?=");
    if (close == std::string_view::npos) return std::nullopt;
    std::string_view text = value.substr(0, close);
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '_') {
        out += ' ';
      } else if (text[i] == '=') {
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexDigitValue(text[i + 1]), low = HexDigitValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
      } else {
        out += text[i];
      }
    }
    value.remove_prefix(close + 2);
    if (value.starts_with("\r\n ")) value.remove_prefix(3);
  }
  return out;
}

// Base64 in lines ending in LF (mail/attachments.hpp) back to its bytes.
inline std::optional<std::string> DecodeBase64(std::string_view encoded) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  std::size_t padding = 0;
  for (char c : encoded) {
    if (c == '\n') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const std::size_t value = kAlphabet.find(c);
    if (value == std::string_view::npos || padding > 0) return std::nullopt;
    bits = (bits << 6 | static_cast<unsigned>(value)) & 0xFFFFFF;
    if (++count % 4 == 0) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8 & 0xFF);
      out += static_cast<char>(bits & 0xFF);
    }
  }
  if ((count + padding) % 4 != 0 || padding > 2) return std::nullopt;
  if (padding > 0) {
    bits <<= 6 * padding;
    out += static_cast<char>(bits >> 16 & 0xFF);
    if (padding == 1) out += static_cast<char>(bits >> 8 & 0xFF);
  }
  return out;
}

}  // namespace veltrano::testing
