#include "mail/message.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(PrepareBodyForWireTest, GivesCrLfAndStuffsEveryLeadingDot) {
  const struct {
    const char* name;
    std::string body;
    std::string want;
  } cases[] = {
      // clang-format off
      {"empty", "", ""}, {"no_line_end", "Hello", "Hello"}, {"lf", "Hello\nWorld", "Hello\r\nWorld"},
      {"crlf_kept_single", "a\r\nb", "a\r\nb"}, {"lone_cr", "a\rb", "a\r\nb"},
      {"cr_cr_lf", "a\r\r\nb", "a\r\n\r\nb"}, {"trailing_line_end_kept", "a\n", "a\r\n"},
      {"lone_dot_line", "a\n.\nb", "a\r\n..\r\nb"},
      {"lone_dots_in_a_row", "a\n.\n.\nb", "a\r\n..\r\n..\r\nb"},
      {"dot_then_text", "a\n.x\nb", "a\r\n..x\r\nb"}, {"dot_then_spaces", "a\n. \nb", "a\r\n.. \r\nb"},
      {"first_and_last_lines", ".\nmid\n.", "..\r\nmid\r\n.."},
      {"dot_after_crlf_from_a_value", "x\r\n.\r\ny", "x\r\n..\r\ny"},
      {"dot_after_lone_cr", "x\r.y", "x\r\n..y"},
      {"dot_inside_line_untouched", "a.b\n x.", "a.b\r\n x."},
      {"nul_and_high_bytes_kept", std::string("a\0\xff\n", 4), std::string("a\0\xff\r\n", 5)},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrepareBodyForWire(c.body), c.want) << c.name;
  }
}

TEST(PrepareBodyForWireTest, ConvertsManyLinesCompletely) {
  std::string body, want;
  for (int i = 0; i < 5000; ++i) {
    body += i % 3 == 0 ? ".\n" : "line\n";
    want += i % 3 == 0 ? "..\r\n" : "line\r\n";
  }
  EXPECT_EQ(PrepareBodyForWire(body), want);
}

// The form a body is kept in until the wire (and in which PGP sees it): LF
// only. The wire conversion then runs over it exactly once.
TEST(NormalizeLineEndsTest, GivesLfAndLeavesDotsForTheWire) {
  const std::string normal = NormalizeLineEnds("Hi\r\n.\rx\n..y\r");
  EXPECT_EQ(normal, "Hi\n.\nx\n..y\n");
  EXPECT_EQ(PrepareBodyForWire(normal), "Hi\r\n..\r\nx\r\n...y\r\n");
}

TEST(MailDateTest, NamesTheWeekdayAndTheZone) {
  const struct {
    platform::LocalTime time;
    const char* want;
  } cases[] = {
      {{1998, 3, 7, 14, 5, 9, 3600}, "Sat, 07 Mar 1998 14:05:09 +0100"},
      {{2000, 1, 1, 0, 0, 0, 0}, "Sat, 01 Jan 2000 00:00:00 +0000"},
      {{2001, 1, 1, 12, 0, 0, 19800}, "Mon, 01 Jan 2001 12:00:00 +0530"},
      {{2023, 12, 31, 9, 8, 7, -18000}, "Sun, 31 Dec 2023 09:08:07 -0500"},
      {{2024, 2, 29, 23, 59, 59, -12600}, "Thu, 29 Feb 2024 23:59:59 -0330"},
      {{2100, 2, 28, 1, 2, 3, 0}, "Sun, 28 Feb 2100 01:02:03 +0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MailDate(c.time), c.want);
  }
}

}  // namespace
}  // namespace veltrano
