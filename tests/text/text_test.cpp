#include "text/text.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

struct FindCase {
  const char* name;
  std::string text;
  std::string word;
  std::optional<std::size_t> want;
};

class FindNoCaseTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindNoCaseTest, FindsFirstOccurrence) {
  const FindCase& c = GetParam();
  EXPECT_EQ(FindNoCase(c.text, c.word), c.want) << c.text << " / " << c.word;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindNoCaseTest,
    ::testing::Values(FindCase{"server", "Microsoft-IIS/3.0", "microsoft", 0},
                      FindCase{"inner", "xDEBUGx", "debug", 1},
                      FindCase{"first_of_two", "a-b-a-b", "B", 2},
                      FindCase{"absent", "contact.tpl", "debug", std::nullopt},
                      FindCase{"empty_word", "abc", "", 0}, FindCase{"empty_both", "", "", 0},
                      FindCase{"word_longer", "ab", "abc", std::nullopt},
                      FindCase{"non_ascii_exact", "caf\xE9", "\xC9", std::nullopt},
                      FindCase{"non_ascii_same", "caf\xE9", "\xE9", 3},
                      FindCase{"nul_inside", std::string("a\0b", 3), "B", 2}),
    [](const auto& info) { return std::string(info.param.name); });

struct TrimCase {
  const char* name;
  std::string in;
  std::string want;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, RemovesExactlyFourWhiteSpaceBytes) {
  std::string s = GetParam().in;
  Trim(s);
  EXPECT_EQ(s, GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrimTest,
                         ::testing::Values(TrimCase{"mixed", " \ta b\r\n", "a b"},
                                           TrimCase{"empty", "", ""},
                                           TrimCase{"only_space", " \t\r\n \n", ""},
                                           TrimCase{"vertical_tab_kept", "\va ", "\va"},
                                           TrimCase{"form_feed_kept", "\fa\f", "\fa\f"},
                                           TrimCase{"high_byte_kept", "\xA0x\xA0", "\xA0x\xA0"},
                                           TrimCase{"inner_kept", "a \n b", "a \n b"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TrimTest, OneSidedAndNone) {
  std::string left = "  a  ", right = "  a  ";
  TrimLeft(left);
  TrimRight(right);
  EXPECT_EQ(left, "a  ");
  EXPECT_EQ(right, "  a");
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

TEST(TextTest, HtmlEscapeCoversMarkupAndQuotes) {
  EXPECT_EQ(HtmlEscape("<script>alert('x\"&')</script>"),
            "&lt;script&gt;alert(&#39;x&quot;&amp;&#39;)&lt;/script&gt;");
  EXPECT_EQ(HtmlEscape("plain 100%"), "plain 100%");
}

}  // namespace
}  // namespace veltrano
