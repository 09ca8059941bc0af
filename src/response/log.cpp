#include "response/log.hpp"

namespace veltrano {

namespace {

void AppendPrintable(std::string& line, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && c != '\\') {
      line += c;
    } else {
      line += "\\x";
      line += kHex[b >> 4];
      line += kHex[b & 0xF];
    }
  }
}

}  // namespace

std::string LogLine(std::string_view templateName, std::string_view text) {
  std::string line = "veltrano2.exe: ";
  AppendPrintable(line, templateName.empty() ? "(none)" : templateName);
  line += ": ";
  AppendPrintable(line, text);
  if (line.size() > kMaxLogLine) {
    // Cut before an escape that would be split.
    std::size_t cut = kMaxLogLine - 3;
    std::size_t escape = line.rfind("\\x", cut);
    if (escape != std::string::npos && escape + 4 > cut) cut = escape;
    line.resize(cut);
    line += "...";
  }
  return line;
}

}  // namespace veltrano
