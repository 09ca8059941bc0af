#include "expand/escapers.hpp"

#include "text/text.hpp"

namespace veltrano {

void HtmlPage::Literal(std::string_view text, std::string& out) {
  out += text;
  for (char c : text) {
    if (!inHeader_) return;
    if (c == '\n') {
      inHeader_ = !lineEmpty_;
      lineEmpty_ = true;
    } else if (c != '\r') {
      lineEmpty_ = false;
    }
  }
}

std::size_t HtmlPage::Replacement(std::string_view value, std::string& out) {
  std::string escaped = HtmlEscape(inHeader_ ? CollapseLineBreaks(value) : std::string(value));
  if (!escaped.empty()) lineEmpty_ = false;
  out += escaped;
  return escaped.size();
}

[[gnu::cold]] std::size_t HtmlPage::Markup(std::string_view markup, std::string& out) {
  if (!inHeader_) {
    out += markup;
    return markup.size();
  }
  const std::string line = CollapseLineBreaks(markup);
  if (!line.empty()) lineEmpty_ = false;
  out += line;
  return line.size();
}

void DataRecord::Literal(std::string_view text, std::string& out) {
  out += text;
  for (char c : text) {
    if (c == '\n') inQuotes_ = false;
    if (c == '"') inQuotes_ = !inQuotes_;
  }
}

std::size_t DataRecord::Replacement(std::string_view value, std::string& out) {
  std::size_t before = out.size();
  if (guard_ && !value.empty() &&
      std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos) {
    out += '\'';
  }
  for (char c : CollapseLineBreaks(value)) {
    if (c == '"' && inQuotes_) out += '"';
    out += c;
  }
  return out.size() - before;
}

}  // namespace veltrano
