#include "response/log.hpp"

#include "expand/placeholders.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// Cuts `text` to at most `max` bytes, the last three of them "...", before
// an escape that would be split.
void CutTo(std::string& text, std::size_t max) {
  if (text.size() <= max) return;
  std::size_t cut = max - 3;
  std::size_t escape = text.rfind("\\x", cut);
  if (escape != std::string::npos && escape + 4 > cut) cut = escape;
  text.resize(cut);
  text += "...";
}

// One of the fields that start a line: no space in it, "-" for none.
std::string Field(std::string_view value) {
  if (value.empty()) return "-";
  if (value == "-") return "\\x2d";
  std::string printable;
  AppendPrintable(printable, value);
  std::string field;
  for (char c : printable) {
    if (c == ' ') {
      field += "\\x20";
    } else {
      field += c;
    }
  }
  CutTo(field, kMaxLogField);
  return field;
}

}  // namespace

std::string LogLine(const LogOrigin& origin, std::string_view text) {
  std::string line = IsoDateTime(origin.time);
  line += ' ';
  line += Field(origin.client);
  line += ' ';
  line += Field(origin.templateName);
  line += ' ';
  line += std::to_string(origin.processId);
  line += " veltrano2.exe: ";
  AppendPrintable(line, text);
  CutTo(line, kMaxLogLine);
  return line;
}

}  // namespace veltrano
