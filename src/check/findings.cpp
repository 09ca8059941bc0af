#include "check/findings.hpp"

namespace veltrano::check {

std::string Shown(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...";
}

std::string Printable(std::string_view line) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (char c : line) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '\\') {
      shown += c;
    } else {
      shown += "\\x";
      shown += kHex[b >> 4];
      shown += kHex[b & 0xF];
    }
  }
  return shown;
}

}  // namespace veltrano::check
