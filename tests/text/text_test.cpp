#include "text/text.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace veltrano {
namespace {

TEST(FindNoCaseTest, FindsFirstOccurrenceIgnoringAsciiCaseOnly) {
  struct Case {
    const char* name;
    std::string text;
    std::string word;
    std::optional<std::size_t> want;
  };
  const Case cases[] = {
      {"server", "Microsoft-IIS/3.0", "microsoft", 0},
      {"inner", "xDEBUGx", "debug", 1},
      {"first_of_two", "a-b-a-b", "B", 2},
      {"absent", "contact.tpl", "debug", std::nullopt},
      {"empty_word", "abc", "", 0},
      {"empty_both", "", "", 0},
      {"word_longer", "ab", "abc", std::nullopt},
      {"non_ascii_exact", "caf\xE9", "\xC9", std::nullopt},
      {"non_ascii_same", "caf\xE9", "\xE9", 3},
      {"nul_inside", std::string("a\0b", 3), "B", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindNoCase(c.text, c.word), c.want) << c.name;
  }
}

TEST(TrimTest, RemovesExactlyFourWhiteSpaceBytes) {
  struct Case {
    const char* name;
    std::string in;
    std::string want;  // both sides
    std::string left;
    std::string right;
  };
  const Case cases[] = {
      {"mixed", " \ta b\r\n", "a b", "a b\r\n", " \ta b"},
      {"empty", "", "", "", ""},
      {"only_space", " \t\r\n \n", "", "", ""},
      {"vertical_tab_kept", "\va ", "\va", "\va ", "\va"},
      {"form_feed_kept", "\fa\f", "\fa\f", "\fa\f", "\fa\f"},
      {"high_byte_kept", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0", "\xA0x\xA0"},
      {"inner_kept", " a \n b ", "a \n b", "a \n b ", " a \n b"},
  };
  for (const Case& c : cases) {
    std::string both = c.in, left = c.in, right = c.in;
    Trim(both);
    TrimLeft(left);
    TrimRight(right);
    EXPECT_EQ(both, c.want) << c.name;
    EXPECT_EQ(left, c.left) << c.name;
    EXPECT_EQ(right, c.right) << c.name;
  }
  std::optional<std::string> none;
  Trim(none);
  EXPECT_FALSE(none.has_value());
}

TEST(TextTest, CaseHelpersTouchAsciiLettersOnly) {
  EXPECT_TRUE(EqualsNoCase("SendTo", "sendto"));
  EXPECT_FALSE(EqualsNoCase("sendto", "sendtox"));
  EXPECT_FALSE(EqualsNoCase("\xE9", "\xC9"));
  std::string s = "MiXeD\xC9@Example.COM";
  AsciiLowerInPlace(s);
  EXPECT_EQ(s, "mixed\xC9@example.com");
  EXPECT_EQ(AsciiUpper("path_x\xe9"), "PATH_X\xe9");
}

TEST(TextTest, SplitLinesDropsOnlyTheFinalLineEnd) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("a"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\n"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\n\nb\n\n"), (Lines{"a", "", "b", ""}));
  EXPECT_EQ(SplitLines("\n"), Lines{""});
}

TEST(TextTest, CollapseLineBreaksMakesEachRunOneSpace) {
  EXPECT_EQ(CollapseLineBreaks("a\r\nb\n\n\rc\rd"), "a b c d");
  EXPECT_EQ(CollapseLineBreaks("\r\nx\n"), " x ");
  EXPECT_EQ(CollapseLineBreaks("a \t b"), "a \t b");
}

TEST(TextTest, HtmlEscapeCoversMarkupAndQuotes) {
  EXPECT_EQ(HtmlEscape("<script>alert('x\"&')</script>"),
            "&lt;script&gt;alert(&#39;x&quot;&amp;&#39;)&lt;/script&gt;");
  EXPECT_EQ(HtmlEscape("plain 100%"), "plain 100%");
}

// Held at any ceiling, the largest included, without overflowing on the way.
TEST(LeadingIntegerTest, HoldsTheMagnitudeAtTheCeiling) {
  constexpr long long kMax = std::numeric_limits<long long>::max();
  const struct {
    std::string text;
    long long ceiling;
    long long want;
  } cases[] = {
      {" +12x", 100, 12},
      {"123", 100, 100},
      {"9223372036854775807", kMax, kMax},
      {"9223372036854775808", kMax, kMax},
      {"-99999999999999999999999", kMax, -kMax},
      {"922337203685477580", kMax, 922337203685477580},
  };
  for (const auto& c : cases) EXPECT_EQ(LeadingInteger(c.text, c.ceiling), c.want) << c.text;
}

TEST(ParseDecimalTest, TakesDigitsAndNothingElse) {
  const struct {
    std::string text;
    std::optional<unsigned long long> want;
  } cases[] = {{"0", 0},
               {"0042", 42},
               {"18446744073709551615", 18446744073709551615ULL},
               {"18446744073709551616", std::nullopt},
               {"", std::nullopt},
               {"+1", std::nullopt},
               {"-1", std::nullopt},
               {" 1", std::nullopt},
               {"1 ", std::nullopt},
               {"1x", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.want) << c.text;
}

TEST(IsValidUtf8Test, RefusesWhatNoEncoderWrites) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      // clang-format off
      {"", true}, {"ascii", true}, {"Zo\xc3\xab", true}, {"\xe2\x82\xac", true},
      {"\xf0\x9f\x98\x80", true}, {"\xf4\x8f\xbf\xbf", true},
      {"\xff", false}, {"\xe9t\xe9", false}, {"\xc3", false}, {"\xe2\x82", false},
      {"\xc0\xaf", false}, {"\xe0\x80\xaf", false}, {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xc3\x28", false}, {"\x80", false},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

}  // namespace
}  // namespace veltrano
