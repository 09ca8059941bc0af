#include "mail/attachments.hpp"

#include <algorithm>
#include <cstdint>

#include "mail/mime.hpp"
#include "text/file_names.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// RFC 2045 6.8: encoded lines are at most 76 characters.
constexpr std::size_t kBase64Line = 76;

struct MediaType {
  std::string_view extension;
  std::string_view type;
};

constexpr MediaType kMediaTypes[] = {
    {"pdf", "application/pdf"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"txt", "text/plain"},
    {"csv", "text/csv"},
    {"doc", "application/msword"},
    {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xls", "application/vnd.ms-excel"},
    {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"odt", "application/vnd.oasis.opendocument.text"},
    {"ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {"zip", "application/zip"},
};

// RFC 2231 and RFC 5987 attr-char: what stands for itself in an extended
// parameter value.
bool IsAttrChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos;
}

std::string FileNameParameter(std::string_view name) {
  if (HasHighBytes(name) || name.find("=?") != std::string_view::npos) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string value = "filename*=utf-8''";
    for (char c : name) {
      if (IsAttrChar(c)) {
        value += c;
      } else {
        const auto byte = static_cast<unsigned char>(c);
        value += '%';
        value += kHex[byte >> 4];
        value += kHex[byte & 0x0F];
      }
    }
    return value;
  }
  std::string value = "filename=\"";
  for (char c : name) {
    if (c == '"' || c == '\\') value += '\\';
    value += c;
  }
  return value + "\"";
}

}  // namespace

[[gnu::cold]] std::string Base64Lines(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kBytesPerLine = kBase64Line / 4 * 3;
  const std::size_t lines = (bytes.size() + kBytesPerLine - 1) / kBytesPerLine;
  std::string out((bytes.size() + 2) / 3 * 4 + lines, '\n');
  char* to = out.data();
  for (std::size_t line = 0; line < bytes.size(); line += kBytesPerLine) {
    const std::size_t end = std::min(bytes.size(), line + kBytesPerLine);
    for (std::size_t i = line; i < end; i += 3) {
      const std::size_t n = std::min<std::size_t>(3, end - i);
      std::uint32_t group = 0;
      for (std::size_t k = 0; k < 3; ++k) {
        group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
      }
      for (std::size_t k = 0; k < 4; ++k) {
        *to++ = k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
      }
    }
    ++to;  // the line's LF, there from the start
  }
  return out;
}

[[gnu::cold]] std::size_t WireSizeOfFile(std::size_t size) {
  constexpr std::size_t kBytesPerLine = kBase64Line / 4 * 3;
  return (size + 2) / 3 * 4 + (size + kBytesPerLine - 1) / kBytesPerLine * 2;
}

[[gnu::cold]] std::string_view MediaTypeOf(std::string_view fileName) {
  const std::string extension = FileExtension(fileName);
  for (const MediaType& media : kMediaTypes) {
    if (media.extension == extension) return media.type;
  }
  return "application/octet-stream";
}

[[gnu::cold]] std::string AttachmentHeader(std::string_view fileName) {
  constexpr std::string_view kDisposition = "Content-Disposition: attachment;";
  const std::string parameter = FileNameParameter(fileName);
  std::string header = "Content-Type: " + std::string(MediaTypeOf(fileName)) + "\n";
  header += "Content-Transfer-Encoding: base64\n";
  header += kDisposition;
  header += kDisposition.size() + 1 + parameter.size() <= kFoldedLineLength ? " " : "\n ";
  return header + parameter + "\n";
}

}  // namespace veltrano
