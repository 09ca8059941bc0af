#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {
constexpr char kEndOfText = '\x1a';
constexpr std::string_view kSpecial("\r\x1a", 2);
}  // namespace

std::string EncodeTextMode(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t lf = text.find('\n', i);
    if (lf == std::string_view::npos) lf = text.size();
    out.append(text.data() + i, lf - i);
    if (lf == text.size()) break;
    out += "\r\n";
    i = lf + 1;
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
  if (ended_) return false;
  out.reserve(out.size() + bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    if (pendingCr_) {
      pendingCr_ = false;
      if (bytes[i] == '\n') {
        out.push_back('\n');
        ++i;
        continue;
      }
      out.push_back('\r');
    }
    // Runs without CR and 0x1A pass as they are.
    std::size_t stop = bytes.find_first_of(kSpecial, i);
    if (stop == std::string_view::npos) stop = bytes.size();
    out.append(bytes.data() + i, stop - i);
    i = stop;
    if (i == bytes.size()) break;
    if (bytes[i] == kEndOfText) {
      ended_ = true;
      return false;
    }
    pendingCr_ = true;  // a CR: the next byte tells whether it starts CR LF
    ++i;
  }
  return true;
}

void TextModeDecoder::Finish(std::string& out) {
  if (pendingCr_) out.push_back('\r');
  pendingCr_ = false;
}

}  // namespace veltrano::platform
