// The text-mode conversions every file and both standard streams go through.
// Writing turns every LF into CR LF (a CR before it stays: CR LF becomes
// CR CR LF). Reading turns every CR LF pair into LF and ends at the first
// 0x1A byte. Nothing else is translated, so each conversion is applied once,
// at the edge where bytes enter or leave the process.
#pragma once

#include <string>
#include <string_view>

namespace veltrano::platform {

std::string EncodeTextMode(std::string_view text);
std::string DecodeTextMode(std::string_view bytes);

// Incremental reader-side conversion for streams that arrive in pieces. A CR
// at the end of a piece is held back until the next byte shows whether it
// starts a CR LF pair.
class TextModeDecoder {
 public:
  // Appends the decoded form of `bytes` to `out`; returns false once a 0x1A
  // byte has ended the text (later input is ignored).
  bool Feed(std::string_view bytes, std::string& out);
  // Flushes a held-back CR at the end of the input.
  void Finish(std::string& out);

 private:
  bool pendingCr_ = false;
  bool ended_ = false;
};

}  // namespace veltrano::platform
