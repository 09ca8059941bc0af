#include "expand/message_body.hpp"

#include <gtest/gtest.h>

#include "support/fake_system.hpp"

namespace veltrano {
namespace {

struct WireCase {
  const char* name;
  std::string body;
  std::string want;
};

class WireTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireTest, GivesCrLfAndStuffsEveryLeadingDot) {
  EXPECT_EQ(PrepareBodyForWire(GetParam().body), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, WireTest,
    ::testing::Values(WireCase{"empty", "", ""}, WireCase{"no_line_end", "Hello", "Hello"},
                      WireCase{"lf", "Hello\nWorld", "Hello\r\nWorld"},
                      WireCase{"crlf_kept_single", "a\r\nb", "a\r\nb"},
                      WireCase{"lone_cr", "a\rb", "a\r\nb"},
                      WireCase{"cr_cr_lf", "a\r\r\nb", "a\r\n\r\nb"},
                      WireCase{"lone_dot_line", "a\n.\nb", "a\r\n..\r\nb"},
                      WireCase{"lone_dots_in_a_row", "a\n.\n.\nb", "a\r\n..\r\n..\r\nb"},
                      WireCase{"dot_then_text", "a\n.x\nb", "a\r\n..x\r\nb"},
                      WireCase{"dot_then_spaces", "a\n. \nb", "a\r\n.. \r\nb"},
                      WireCase{"first_and_last_lines", ".\nmid\n.", "..\r\nmid\r\n.."},
                      WireCase{"dot_after_crlf_from_a_value", "x\r\n.\r\ny", "x\r\n..\r\ny"},
                      WireCase{"dot_inside_line_untouched", "a.b\n x.", "a.b\r\n x."},
                      WireCase{"trailing_line_end_kept", "a\n", "a\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WireTest, ConvertsManyLinesCompletely) {
  std::string body, want;
  for (int i = 0; i < 5000; ++i) {
    body += i % 3 == 0 ? ".\n" : "line\n";
    want += i % 3 == 0 ? "..\r\n" : "line\r\n";
  }
  EXPECT_EQ(PrepareBodyForWire(body), want);
}

TEST(PrepareMessageBodyTest, GivesLfLineEndsAndLeavesDotsForTheWire) {
  testing::FakeSystem fake;
  RequestContext ctx(fake.system);
  // Once prepared, the body goes through the wire conversion exactly once.
  const std::string prepared = PrepareMessageBody(ctx, "Hi\r\n.\rx\n..y");
  EXPECT_EQ(prepared, "Hi\n.\nx\n..y");
  EXPECT_EQ(PrepareBodyForWire(prepared), "Hi\r\n..\r\nx\r\n...y");
}

}  // namespace
}  // namespace veltrano
