// Uploaded files as mail parts, on any name and any bytes: the cleaned name
// is valid UTF-8 of at most 255 bytes without controls, its header reads
// back as the name and holds nothing but printable ASCII on lines a mail can
// carry, the base64 reads back as the bytes, and a mail with the file is
// 7-bit with CR LF lines that no line of its own can end early.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/fuzz_support.hpp"
#include "mail/attachments.hpp"
#include "mail/message.hpp"
#include "mail/mime.hpp"
#include "support/mime_decode.hpp"
#include "text/file_names.hpp"
#include "text/text.hpp"

using veltrano::fuzz::Fail;

namespace {

// The file name the Content-Disposition line of `header` gives.
std::optional<std::string> NameOf(std::string_view header) {
  std::size_t at = header.find("filename");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = header.substr(at);
  std::string name;
  if (rest.starts_with("filename=\"")) {
    for (std::size_t i = 10; i < rest.size(); ++i) {
      if (rest[i] == '"') return name;
      if (rest[i] == '\\') ++i;
      name += rest[i];
    }
    return std::nullopt;
  }
  constexpr std::string_view kExtended = "filename*=utf-8''";
  if (!rest.starts_with(kExtended)) return std::nullopt;
  for (std::size_t i = kExtended.size(); i < rest.size() && rest[i] != '\n'; ++i) {
    if (rest[i] != '%') {
      name += rest[i];
      continue;
    }
    const int high = veltrano::testing::HexDigitValue(rest[i + 1]);
    const int low = veltrano::testing::HexDigitValue(rest[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    name += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string raw = in.ConsumeRandomLengthString(1200);
  const std::string bytes = in.ConsumeRemainingBytesAsString();

  const std::string name = veltrano::CleanFileName(raw);
  if (name.size() > veltrano::kMaxFileNameBytes || !veltrano::IsValidUtf8(name)) Fail();
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '/' || c == '\\') Fail();
  }

  const std::string header = veltrano::AttachmentHeader(name);
  if (NameOf(header) != name) Fail();
  for (std::string_view line : veltrano::SplitLines(header)) {
    if (line.size() > veltrano::kMaxLineLength) Fail();
    for (char c : line) {
      if (c < 0x20 || c > 0x7E) Fail();
    }
  }

  const std::string base64 = veltrano::Base64Lines(bytes);
  if (veltrano::testing::DecodeBase64(base64) != bytes) Fail();

  if (bytes.empty()) return 0;
  const std::vector<veltrano::Attachment> files = {
      {name, std::make_shared<const std::string>(base64)}};
  veltrano::MailHeader mail{"form@example.org",
                            std::nullopt,
                            "s",
                            "ann@example.org",
                            std::nullopt,
                            {},
                            "id",
                            false,
                            "=_fuzz"};
  const veltrano::ComposedMail composed =
      veltrano::ComposeMail(mail, name, veltrano::BodyKind::kText, files);
  std::string text = composed.text;
  veltrano::WireWriter writer;
  for (const veltrano::MailPiece& piece : composed.pieces) {
    writer.Feed(*piece.shared, text);
    writer.Feed(piece.after, text);
  }
  writer.Finish(text);
  if ((text + "\r\n.\r\n").find("\r\n.\r\n") != text.size() || veltrano::HasHighBytes(text)) {
    Fail();
  }
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos || end - at > veltrano::kMaxLineLength + 1) Fail();
    if (text.substr(at, end - at).find_first_of("\r\n") != std::string::npos) Fail();
    at = end + 2;
  }
  return 0;
}
