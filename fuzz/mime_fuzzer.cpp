// The encodings that make a mail's text safe for SMTP, on any bytes: each
// comes back whole through its decoder (tests/support/mime_decode.hpp), keeps
// its line limits, and a composed mail is 7-bit text with CR LF lines of at
// most 998 octets that no line of its own can end early.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_support.hpp"
#include "mail/message.hpp"
#include "mail/mime.hpp"
#include "support/mime_decode.hpp"
#include "text/text.hpp"

using veltrano::fuzz::Fail;

namespace {

// The lines of text split at `end`, which is "\r\n" or "\n".
std::vector<std::string_view> Lines(std::string_view text, std::string_view end) {
  std::vector<std::string_view> lines;
  for (;;) {
    std::size_t at = text.find(end);
    lines.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return lines;
    text.remove_prefix(at + end.size());
  }
}

void CheckQuotedPrintable(const std::string& text) {
  const std::string encoded = veltrano::QuotedPrintable(text);
  if (veltrano::testing::DecodeQuotedPrintable(encoded) != text) Fail();
  for (std::string_view line : Lines(encoded, "\r\n")) {
    if (line.size() > 76) Fail();
    if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) Fail();
    for (char c : line) {
      if ((c < 33 || c > 126) && c != ' ' && c != '\t') Fail();
    }
  }
}

void CheckEncodedWords(const std::string& text, std::size_t used) {
  const std::string charset = veltrano::IsValidUtf8(text) ? "UTF-8" : "ISO-8859-1";
  const std::string folded = veltrano::EncodedWords(text, charset, used);
  if (veltrano::testing::DecodeEncodedWords(folded, charset) != text) Fail();
  const std::vector<std::string_view> lines = Lines(folded, "\r\n");
  if (used + lines[0].size() > veltrano::kFoldedLineLength) Fail();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view word = lines[i];
    if (i > 0) {
      if (!word.starts_with(' ')) Fail();
      word.remove_prefix(1);
    }
    if (word.size() > 75) Fail();
    // A word holds whole characters.
    if (charset == "UTF-8" &&
        !veltrano::IsValidUtf8(
            veltrano::testing::DecodeEncodedWords(word, charset).value_or("\xff"))) {
      Fail();
    }
  }
}

void CheckFolding(const std::string& text, std::size_t used) {
  if (text.find_first_of("\r\n") != std::string::npos) return;
  std::optional<std::string> folded = veltrano::FoldAtSpaces(text, used);
  if (!folded) return;
  const std::vector<std::string_view> lines = Lines(*folded, "\r\n");
  std::string unfolded;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (used * (i == 0) + lines[i].size() > veltrano::kMaxLineLength) Fail();
    if (i > 0 && lines[i].find_first_not_of(" \t") == std::string_view::npos) Fail();
    unfolded += lines[i];
  }
  if (unfolded != text) Fail();
}

void CheckSoftBreaks(const std::string& text) {
  if (text.find("=\n") != std::string::npos) return;
  const std::string broken = veltrano::SoftBreakLongLines(text);
  for (std::string_view line : Lines(broken, "\n")) {
    if (line.size() > veltrano::kMaxLineLength) Fail();
  }
  std::string joined = broken;
  for (std::size_t at; (at = joined.find("=\n")) != std::string::npos;) joined.erase(at, 2);
  if (joined != text) Fail();
}

// A whole mail with the fuzzed text as subject and body.
void CheckComposedMail(const std::string& subject, const std::string& body, bool armour) {
  veltrano::MailHeader header{"form@example.org", std::nullopt, subject,        "ann@example.org",
                              std::nullopt,       {},           "id@fuzz.test", false};
  const veltrano::BodyKind kind = armour ? veltrano::BodyKind::kArmour : veltrano::BodyKind::kText;
  const std::string text = veltrano::ComposeMail(header, body, kind).text;
  // Every line ends in CR LF, and only the end-of-data mark is a lone dot.
  const std::string data = text + "\r\n.\r\n";
  if (data.find("\r\n.\r\n") != text.size()) Fail();
  for (std::string_view line : Lines(text, "\r\n")) {
    if (line.find_first_of("\r\n") != std::string_view::npos) Fail();
  }
  // Armour goes out as it is; everything else is 7-bit with short lines (a
  // stuffed dot does not count, RFC 5321 4.5.3.1.6).
  const std::string_view checked =
      armour ? std::string_view(text).substr(0, text.find("\r\n\r\n")) : std::string_view(text);
  for (std::string_view line : Lines(checked, "\r\n")) {
    if (line.size() > veltrano::kMaxLineLength + (line.starts_with("..") ? 1 : 0)) Fail();
  }
  if (veltrano::HasHighBytes(checked)) Fail();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t used = in.ConsumeIntegralInRange<std::size_t>(0, 30);
  const bool armour = in.ConsumeBool();
  const std::string subject = in.ConsumeRandomLengthString(2000);
  const std::string text = in.ConsumeRemainingBytesAsString();

  CheckQuotedPrintable(text);
  CheckEncodedWords(text, used);
  CheckEncodedWords(subject, used);
  CheckFolding(subject, used);
  CheckSoftBreaks(text);
  CheckComposedMail(subject, text, armour);
  return 0;
}
