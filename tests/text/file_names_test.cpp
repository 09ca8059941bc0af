#include "text/file_names.hpp"

#include <gtest/gtest.h>

#include "text/text.hpp"

namespace veltrano {
namespace {

TEST(CleanFileNameTest, KeepsTheLastComponentWithoutControls) {
  const struct {
    const char* name;
    std::string raw;
    std::string want;
  } cases[] = {
      {"plain", "cv.pdf", "cv.pdf"},
      {"unix_path", "/etc/../home/ann/cv.pdf", "cv.pdf"},
      {"windows_path", "C:\\Users\\Ann\\cv.pdf", "cv.pdf"},
      {"mixed_separators", "a\\b/c\\d.pdf", "d.pdf"},
      {"trailing_separator", "dir/", ""},
      {"controls", "c\r\nv\t\x01\x7f.pdf", "cv.pdf"},
      {"c1_control", "cv\xc2\x85.pdf", "cv.pdf"},
      {"direction_override",
       "cv\xe2\x80\xae"
       "fdp.exe",
       "cvfdp.exe"},
      {"isolates_and_marks",
       "\xe2\x81\xa6"
       "a\xe2\x80\x8f"
       "b\xd8\x9c.png",
       "ab.png"},
      {"spaces_trimmed", "  my cv .pdf ", "my cv .pdf"},
      {"quotes_kept", "a\"b'c;d.pdf", "a\"b'c;d.pdf"},
      {"utf8_kept", "Lebenslauf J\xc3\xbcrgen \xe2\x82\xac.pdf",
       "Lebenslauf J\xc3\xbcrgen \xe2\x82\xac.pdf"},
      {"invalid_utf8", "caf\xe9 \xc3.pdf", "caf_ _.pdf"},
      {"encoded_word_kept", "=?utf-8?q?x?=.pdf", "=?utf-8?q?x?=.pdf"},
      {"nul", std::string("a\0b.pdf", 7), "ab.pdf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CleanFileName(c.raw), c.want) << c.name;
  }
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(CleanFileNameTest, CutsLongNamesAtACharacterAndKeepsTheExtension) {
  const std::string euro = "\xe2\x82\xac";  // three bytes
  const struct {
    const char* name;
    std::string raw;
    std::string want;
  } cases[] = {
      {"at_limit", std::string(251, 'a') + ".pdf", std::string(251, 'a') + ".pdf"},
      {"one_over", std::string(252, 'a') + ".pdf", std::string(251, 'a') + ".pdf"},
      {"thousand", std::string(1000, 'a') + ".pdf", std::string(251, 'a') + ".pdf"},
      // 83 euros are 249 bytes; the 84th would end at 252, past 251.
      {"no_split_character", "x" + Repeat(euro, 300) + ".pdf", "x" + Repeat(euro, 83) + ".pdf"},
      {"long_extension_cut", std::string(300, 'a') + "." + std::string(20, 'b'),
       std::string(255, 'a')},
  };
  for (const auto& c : cases) {
    const std::string got = CleanFileName(c.raw);
    EXPECT_EQ(got, c.want) << c.name;
    EXPECT_LE(got.size(), kMaxFileNameBytes) << c.name;
    EXPECT_TRUE(IsValidUtf8(got)) << c.name;
  }
}

TEST(FileExtensionTest, IsTheLowerCasedTextAfterTheLastDot) {
  EXPECT_EQ(FileExtension("CV.Final.PDF"), "pdf");
  EXPECT_EQ(FileExtension("archive.tar.gz"), "gz");
  EXPECT_EQ(FileExtension("README"), "");
  EXPECT_EQ(FileExtension("name."), "");
}

}  // namespace
}  // namespace veltrano
