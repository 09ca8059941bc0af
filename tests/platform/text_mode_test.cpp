#include "platform/text_mode.hpp"

#include <gtest/gtest.h>

namespace veltrano::platform {
namespace {

TEST(TextModeTest, EncodeTurnsEveryLfIntoCrLf) {
  struct {
    std::string in, want;
  } cases[] = {{"", ""},
               {"a\nb", "a\r\nb"},
               {"a\r\nb", "a\r\r\nb"},
               {"\n\n", "\r\n\r\n"},
               {"100% %s %d", "100% %s %d"},
               {std::string("a\0\n", 3), std::string("a\0\r\n", 4)}};
  for (const auto& c : cases) EXPECT_EQ(EncodeTextMode(c.in), c.want) << c.in;
}

TEST(TextModeTest, DecodeJoinsCrLfAndStopsAtCtrlZ) {
  struct {
    std::string in, want;
  } cases[] = {{"a\r\nb\r\n", "a\nb\n"},
               {"a\rb", "a\rb"},
               {"a\r\r\nb", "a\r\nb"},
               {"end\r", "end\r"},
               {"ab\x1a"
                "cd",
                "ab"},
               {"a\r\x1a", "a\r"},
               {"\n", "\n"}};
  for (const auto& c : cases) EXPECT_EQ(DecodeTextMode(c.in), c.want) << c.in;
}

TEST(TextModeTest, DecoderJoinsPairSplitAcrossPieces) {
  TextModeDecoder d;
  std::string out;
  d.Feed("a\r", out);
  EXPECT_EQ(out, "a");  // the CR waits for the next byte
  d.Feed("\nb", out);
  d.Finish(out);
  EXPECT_EQ(out, "a\nb");
}

TEST(TextModeTest, RoundTripRestoresText) {
  std::string text = "line 1\nline 2\n\n.\nend";
  EXPECT_EQ(DecodeTextMode(EncodeTextMode(text)), text);
}

}  // namespace
}  // namespace veltrano::platform
