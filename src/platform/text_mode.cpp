#include "platform/text_mode.hpp"

#include <cstring>

namespace veltrano::platform {

namespace {
constexpr char kEndOfText = '\x1a';
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
  // A 0x1A byte ends the text: nothing after it counts.
  const void* eot = std::memchr(bytes.data(), kEndOfText, bytes.size());
  const std::size_t size =
      eot ? static_cast<std::size_t>(static_cast<const char*>(eot) - bytes.data()) : bytes.size();
  out.reserve(out.size() + size);
  for (std::size_t i = 0; i < size;) {
    if (pendingCr_) {
      pendingCr_ = false;
      if (bytes[i] == '\n') {
        out.push_back('\n');
        ++i;
        continue;
      }
      out.push_back('\r');
    }
    // Runs without CR pass as they are; a CR waits for the next byte,
    // which tells whether it starts CR LF.
    const void* cr = std::memchr(bytes.data() + i, '\r', size - i);
    const std::size_t stop =
        cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - bytes.data()) : size;
    out.append(bytes.data() + i, stop - i);
    if (stop == size) break;
    pendingCr_ = true;
    i = stop + 1;
  }
  if (eot) ended_ = true;
  return !ended_;
}

void TextModeDecoder::Finish(std::string& out) {
  if (pendingCr_) out.push_back('\r');
  pendingCr_ = false;
}

}  // namespace veltrano::platform
