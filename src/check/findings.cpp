#include "check/findings.hpp"

#include "text/text.hpp"

namespace veltrano::check {

std::string Shown(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return std::string(text);
  return std::string(text.substr(0, limit)) + "...";
}

std::string Printable(std::string_view line) {
  std::string shown;
  AppendPrintable(shown, line);
  return shown;
}

}  // namespace veltrano::check
