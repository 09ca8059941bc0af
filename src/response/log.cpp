#include "response/log.hpp"

#include "text/text.hpp"

namespace veltrano {

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
