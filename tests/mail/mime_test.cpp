#include "mail/mime.hpp"

#include <gtest/gtest.h>

#include "support/mime_decode.hpp"
#include "text/text.hpp"

namespace veltrano {
namespace {

using testing::DecodeEncodedWords;
using testing::DecodeQuotedPrintable;

// The lines of CR LF-separated text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0;;) {
    std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? end : end - at));
    if (end == std::string::npos) return lines;
    at = end + 2;
  }
}

TEST(QuotedPrintableTest, EncodesLinesAndBreaksThemSoftly) {
  const std::string a74(74, 'a');
  const struct {
    const char* name;
    std::string text;
    std::string want;
  } cases[] = {
      // clang-format off
      {"empty", "", ""}, {"plain", "Hello, world!", "Hello, world!"},
      {"equals_sign", "a=b", "a=3Db"}, {"utf8", "Zo\xc3\xab", "Zo=C3=AB"},
      {"control_and_nul", std::string("\x1b\0\x7f", 3), "=1B=00=7F"},
      {"white_space_ending_a_line", "a \nb\t\n c", "a=20\r\nb=09\r\n c"},
      {"line_ends", "a\n\nb\n", "a\r\n\r\nb\r\n"},
      {"dots_left_for_the_wire", ".\n.x", ".\r\n.x"},
      {"76_chars_broken", std::string(80, 'a'), std::string(75, 'a') + "=\r\n" + "aaaaa"},
      {"escape_not_split", a74 + "\xc3\xa9", a74 + "=\r\n=C3=A9"},
      {"space_before_soft_break", a74 + " b", a74 + " =\r\nb"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const std::string got = QuotedPrintable(c.text);
    EXPECT_EQ(got, c.want) << c.name;
    EXPECT_EQ(DecodeQuotedPrintable(got), c.text) << c.name;
  }
}

TEST(EncodedWordsTest, WholeCharactersInWordsThatFitTheirLines) {
  EXPECT_EQ(EncodedWords("Zo\xc3\xab \xc3\x9cnal", "UTF-8", 9), "=?UTF-8?Q?Zo=C3=AB_=C3=9Cnal?=");
  EXPECT_EQ(EncodedWords("caf\xe9?=_(x)", "ISO-8859-1", 9),
            "=?ISO-8859-1?Q?caf=E9=3F=3D=5F=28x=29?=");
  EXPECT_EQ(EncodedWords("", "UTF-8", 9), "");

  std::string utf8;
  for (int i = 0; i < 40; ++i) utf8 += "\xc3\xbc \xf0\x9f\x98\x80-";  // ü, an emoji
  const struct {
    const char* name;
    std::string value;
    const char* charset;
  } cases[] = {
      {"utf8", utf8, "UTF-8"},
      {"latin1", std::string(300, '\xe9'), "ISO-8859-1"},
      {"ascii", std::string(1200, 'x'), "UTF-8"},
  };
  for (const auto& c : cases) {
    const std::string got = EncodedWords(c.value, c.charset, 9);
    EXPECT_EQ(DecodeEncodedWords(got, c.charset), c.value) << c.name;
    const std::vector<std::string> lines = Lines(got);
    EXPECT_LE(9 + lines[0].size(), 78u) << c.name;
    for (const std::string& line : lines) {
      EXPECT_LE(line.size(), 76u) << c.name;  // a folding space and at most 75
      if (std::string(c.charset) != "UTF-8") continue;
      std::string_view word = line;
      if (word.starts_with(' ')) word.remove_prefix(1);
      EXPECT_TRUE(IsValidUtf8(DecodeEncodedWords(word, c.charset).value_or("\xff"))) << line;
    }
  }
}

TEST(FoldAtSpacesTest, FoldsBeforeWhiteSpaceAndUnfoldsToTheValue) {
  std::string words;
  for (int i = 0; i < 100; ++i) words += "word" + std::to_string(i) + (i % 7 ? " " : "  \t ");
  words += "end";
  std::optional<std::string> folded = FoldAtSpaces(words, 9);
  ASSERT_TRUE(folded);
  std::string unfolded = *folded;
  for (std::size_t at; (at = unfolded.find("\r\n")) != std::string::npos;) unfolded.erase(at, 2);
  EXPECT_EQ(unfolded, words);
  const std::vector<std::string> lines = Lines(*folded);
  EXPECT_GT(lines.size(), 5u);
  EXPECT_LE(9 + lines[0].size(), 78u);
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 78u) << line;
    EXPECT_NE(line.find_first_not_of(" \t"), std::string::npos) << "white space alone";
  }
  // A word that no fold can bring under the limit.
  EXPECT_EQ(FoldAtSpaces(std::string(989, 'x'), 9), std::string(989, 'x'));
  EXPECT_EQ(FoldAtSpaces(std::string(990, 'x'), 9), std::nullopt);
  EXPECT_EQ(FoldAtSpaces("short " + std::string(999, 'x'), 9), std::nullopt);
}

TEST(SoftBreakLongLinesTest, CutsOnlyLinesOverTheLimitAndNeverAnEscape) {
  const std::string ok(998, 'a');
  EXPECT_EQ(SoftBreakLongLines(ok + "\n" + ok), ok + "\n" + ok);
  EXPECT_EQ(SoftBreakLongLines(std::string(2000, 'b')),
            std::string(997, 'b') + "=\n" + std::string(997, 'b') + "=\n" + std::string(6, 'b'));
  // An =XX escape across the cut moves whole to the next piece.
  for (std::size_t at : {994u, 995u, 996u}) {
    std::string line = std::string(at, 'c') + "=C3" + std::string(1000, 'd');
    std::string got = SoftBreakLongLines(line);
    EXPECT_EQ(got.find("=\n"), at + 3 <= 997 ? 997 : at) << at;
    std::string joined = got;
    for (std::size_t p; (p = joined.find("=\n")) != std::string::npos;) joined.erase(p, 2);
    EXPECT_EQ(joined, line) << at;
  }
}

}  // namespace
}  // namespace veltrano
