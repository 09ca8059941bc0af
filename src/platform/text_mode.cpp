#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {
constexpr char kEndOfText = '\x1a';
}

std::string EncodeTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (char c : text) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

std::string DecodeTextMode(std::string_view bytes) {
  std::string out;
  TextModeDecoder decoder;
  decoder.Feed(bytes, out);
  decoder.Finish(out);
  return out;
}

bool TextModeDecoder::Feed(std::string_view bytes, std::string& out) {
  for (char c : bytes) {
    if (ended_) return false;
    if (pendingCr_) {
      pendingCr_ = false;
      if (c == '\n') {
        out.push_back('\n');
        continue;
      }
      out.push_back('\r');
    }
    if (c == kEndOfText) {
      ended_ = true;
      return false;
    }
    if (c == '\r') {
      pendingCr_ = true;
    } else {
      out.push_back(c);
    }
  }
  return !ended_;
}

void TextModeDecoder::Finish(std::string& out) {
  if (pendingCr_) out.push_back('\r');
  pendingCr_ = false;
}

}  // namespace veltrano::platform
