#include "text/file_names.hpp"

#include "text/text.hpp"

namespace veltrano {

namespace {

// An extension this long or shorter survives a cut of a long name.
constexpr std::size_t kMaxKeptExtension = 16;

// C0, DEL and C1 controls, and the bidirectional formatting characters
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069).
bool IsControl(std::string_view ch) {
  const auto byte = [&ch](std::size_t i) { return static_cast<unsigned char>(ch[i]); };
  if (ch.size() == 1) return byte(0) < 0x20 || byte(0) == 0x7F;
  if (ch.size() == 2) {
    return (byte(0) == 0xC2 && byte(1) <= 0x9F) || (byte(0) == 0xD8 && byte(1) == 0x9C);
  }
  if (ch.size() != 3 || byte(0) != 0xE2) return false;
  if (byte(1) == 0x80) {
    return byte(2) == 0x8E || byte(2) == 0x8F || (byte(2) >= 0xAA && byte(2) <= 0xAE);
  }
  return byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9;
}

}  // namespace

[[gnu::cold]] std::string CleanFileName(std::string_view raw) {
  if (std::size_t slash = raw.find_last_of("/\\"); slash != std::string_view::npos) {
    raw.remove_prefix(slash + 1);
  }
  std::string name;
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t n = Utf8SequenceLength(raw, i);
    if (n == 0) {
      name += '_';
      ++i;
      continue;
    }
    if (!IsControl(raw.substr(i, n))) name += raw.substr(i, n);
    i += n;
  }
  Trim(name);
  if (name.size() <= kMaxFileNameBytes) return name;
  std::string extension;
  if (std::size_t dot = name.rfind('.'); dot != std::string::npos) {
    if (name.size() - dot <= kMaxKeptExtension) extension = name.substr(dot);
  }
  std::size_t keep = kMaxFileNameBytes - extension.size();
  // The name is valid UTF-8: a cut before a lead byte splits no character.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  name.resize(keep);
  return name + extension;
}

[[gnu::cold]] std::string FileExtension(std::string_view name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string extension(name.substr(dot + 1));
  AsciiLowerInPlace(extension);
  return extension;
}

}  // namespace veltrano
