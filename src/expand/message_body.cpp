#include "expand/message_body.hpp"

#include "expand/placeholders.hpp"

namespace veltrano {

std::string PrepareMessageBody(const RequestContext& ctx, std::string_view body) {
  return NormalizeLineEnds(ExpandPlaceholders(ctx, body, Escaping::kNone));
}

std::string NormalizeLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

std::string PrepareBodyForWire(std::string_view body) {
  const std::string lf = NormalizeLineEnds(body);
  std::string out;
  out.reserve(lf.size() + lf.size() / 8 + 2);
  bool lineStart = true;
  for (char c : lf) {
    if (lineStart && c == '.') out += '.';
    if (c == '\n') {
      out += "\r\n";
      lineStart = true;
    } else {
      out += c;
      lineStart = false;
    }
  }
  return out;
}

}  // namespace veltrano
