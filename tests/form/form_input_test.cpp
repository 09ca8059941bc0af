#include "form/form_input.hpp"

#include <gtest/gtest.h>

#include "response/failure_page.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FailsWithPage;
using testing::FakeSystem;
using Pairs = std::vector<std::pair<std::string, std::optional<std::string>>>;

Pairs PairsOf(const std::vector<FormPair>& pairs) {
  Pairs out;
  for (const FormPair& p : pairs) out.emplace_back(p.name, p.value);
  return out;
}

TEST(ParseFormDataTest, SplitsDecodesAndJoins) {
  struct Case {
    const char* name;
    std::string body;
    Pairs want;
  };
  const Case cases[] = {
      {"plus_and_escape", "name=John+Smith&sum=1%2B1", {{"name", "John Smith"}, {"sum", "1+1"}}},
      {"hex_both_cases", "x=%4a%4A&y=50%25", {{"x", "JJ"}, {"y", "50%"}}},
      {"escaped_separators", "x=a%3Db%26c", {{"x", "a=b&c"}}},
      {"consecutive_repeat_joins", "color=red&color=blue", {{"color", "red, blue"}}},
      {"repeat_after_other_name",
       "color=red&size=5&color=blue",
       {{"color", "red"}, {"size", "5"}, {"color", "blue"}}},
      {"repeat_is_case_sensitive", "a=1&A=2", {{"a", "1"}, {"A", "2"}}},
      {"empty_value_drops_joined", "a=1&a=&b=2", {{"a", std::nullopt}, {"b", "2"}}},
      {"after_empty_value_new_pair", "a=&a=1", {{"a", std::nullopt}, {"a", "1"}}},
      {"first_equals_separates", "x=a=b", {{"x", "a=b"}}},
      {"name_not_decoded", "first+name=Jo&%41=1", {{"first+name", "Jo"}, {"%41", "1"}}},
      {"piece_without_equals_joins_name", "flag&b=2", {{"flag&b", "2"}}},
      {"zero_byte_ends_value", "x=ab%00cd&y=1", {{"x", "ab"}, {"y", "1"}}},
      {"leading_equals_skipped", "==x=1", {{"x", "1"}}},
      {"empty_body", "", {}},
      {"trailing_piece_dropped", "a=1&flag", {{"a", "1"}}},
      {"only_name", "flag", {}},
      {"name_with_empty_value_last", "a=", {{"a", std::nullopt}}},
      {"trailing_ampersand", "a=1&", {{"a", "1"}}},
      {"line_feed_kept", "msg=a\nb&c=1", {{"msg", "a\nb"}, {"c", "1"}}},
      {"double_ampersand_in_name", "a=1&&b=2", {{"a", "1"}, {"&b", "2"}}},
      {"second_equals_starts_value", "x==1", {{"x", "=1"}}},
      {"empty_value_then_repeat_is_new_pair",
       "a=1&a=2&a=&a=3&a=4",
       {{"a", std::nullopt}, {"a", "3, 4"}}},
      {"equals_only_piece_skipped", "a=1&=&b=2", {{"a", "1"}, {"&b", "2"}}},
      {"joined_values_decoded_each", "c=a+b&c=%41", {{"c", "a b, A"}}},
  };
  for (const Case& c : cases) {
    Result<std::vector<FormPair>> pairs = ParseFormData(c.body);
    ASSERT_TRUE(pairs) << c.name;
    EXPECT_EQ(PairsOf(*pairs), c.want) << c.name;
  }
}

// Every value is decoded while the body is parsed, declared or not.
TEST(ParseFormDataTest, BadEscapeAnywhereEndsTheRequest) {
  for (const char* body :
       {"x=100%", "x=%zz", "x=%4", "x=%4g", "x=%%41", "ok=1&undeclared=%G0", "x=%00%zz"}) {
    EXPECT_TRUE(FailsWithPage(ParseFormData(body), FailureKind::kInvalidEscape, "Veltrano error",
                              "Invalid escape sequence"))
        << body;
  }
}

TEST(LookupFormValueTest, FirstPairOfNameWinsIgnoringCase) {
  Result<std::vector<FormPair>> pairs =
      ParseFormData("first+name=Jo&color=red&size=5&color=blue&a=&a=1");
  ASSERT_TRUE(pairs);
  FormInput form{*pairs};
  EXPECT_EQ(form.LookupFormValue("FIRST+NAME"), "Jo");
  EXPECT_EQ(form.LookupFormValue("first name"), std::nullopt);
  EXPECT_EQ(form.LookupFormValue("Color"), "red");
  EXPECT_EQ(form.LookupFormValue("a"), std::nullopt);
  EXPECT_EQ(form.LookupFormValue("missing"), std::nullopt);
  EXPECT_EQ(form.LookupFormValue(""), std::nullopt);
}

TEST(IsHexDigitTest, AcceptsOnlyHexDigits) {
  std::string accepted;
  for (int c = 0; c < 256; ++c) {
    if (IsHexDigit(static_cast<char>(c))) accepted.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(accepted, "0123456789ABCDEFabcdef");
}

TEST(ParseContentLengthTest, ReadsLikeAtoiWithoutOverflow) {
  constexpr long long kOver = static_cast<long long>(kMaxBodyLength) + 1;
  const std::pair<std::string, long long> cases[] = {
      {"42", 42},
      {" \t\n\v\f\r7", 7},
      {"+7", 7},
      {"-5", -5},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"- 5", 0},
      {"1048576", 1048576},
      {"1048577", kOver},
      {"99999999999999999999999999", kOver},
      {"-99999999999999999999999999", -kOver},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(ParseContentLength(text), want) << text;
}

TEST(ReadFormTest, RefusedRequestsGiveTheirPages) {
  struct Case {
    const char* name;
    std::optional<std::string> method;
    std::optional<std::string> length;
    FailureKind kind;
    std::string title;
    std::string message;
  };
  const std::string notPost = "You must submit a form with a POST method.";
  const std::string noLength = "Your browser didn't send any content.  Is it not POST capable?";
  const std::string negative = "Your browser did not send any data from the form";
  const std::string tooLarge = "The form data is too large.";
  const std::string shortBody = "The form data did not arrive whole.  Please send the form again.";
  using enum FailureKind;
  const Case cases[] = {
      {"get", "GET", "3", kNotPost, "Form Submit Error", notPost},
      {"lower_case_post", "post", "3", kNotPost, "Form Submit Error", notPost},
      {"empty_method", "", "3", kNotPost, "Form Submit Error", notPost},
      {"method_checked_first", "GET", std::nullopt, kNotPost, "Form Submit Error", notPost},
      {"no_length", "POST", std::nullopt, kNoContentLength, "No data", noLength},
      {"negative_length", "POST", "-5", kNegativeContentLength, "No data", negative},
      {"huge_negative_length", "POST", "-99999999999999999999", kNegativeContentLength, "No data",
       negative},
      {"one_over_limit", "POST", "1048577", kBodyTooLarge, "Form Submit Error", tooLarge},
      {"huge_length", "POST", "99999999999999999999", kBodyTooLarge, "Form Submit Error", tooLarge},
      // The client went away, or the time for reading ran out.
      {"short_body", "POST", "4", kShortBody, "Form Submit Error", shortBody},
  };
  for (const Case& c : cases) {
    for (const char* type :
         {"application/x-www-form-urlencoded", "multipart/form-data; boundary=b"}) {
      FakeSystem fake;
      if (c.method) fake.env.vars["REQUEST_METHOD"] = *c.method;
      if (c.length) fake.env.vars["CONTENT_LENGTH"] = *c.length;
      fake.env.vars["CONTENT_TYPE"] = type;
      fake.input.bytes = "a=1";
      EXPECT_TRUE(
          FailsWithPage(ReadForm(fake.env, fake.input, fake.notices), c.kind, c.title, c.message))
          << c.name << ", " << type;
    }
  }
  // Started by hand: no page at all (WriteFatalPage writes the console text).
  FakeSystem fake;
  Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices);
  ASSERT_FALSE(form);
  EXPECT_EQ(form.failure().kind, FailureKind::kNoCgiEnvironment);
}

TEST(ReadFormTest, ReadsAnnouncedLengthInTextMode) {
  struct Case {
    const char* name;
    std::string length;
    std::string stdinBytes;
    Pairs want;
  };
  const Case cases[] = {
      {"exact", "7", "a=1&b=2", {{"a", "1"}, {"b", "2"}}},
      {"longer_input_cut", "6", "a=1&b=2", {{"a", "1"}, {"b", std::nullopt}}},
      {"zero_length", "0", "a=1", {}},
      {"letters_count_as_zero", "abc", "a=1", {}},
      {"crlf_arrives_as_lf", "10", "a=x\r\ny&b=2", {{"a", "x\ny"}, {"b", "2"}}},
      // The length counts bytes as sent: a CR LF pair is two of them, and
      // nothing past the announced body is read.
      {"crlf_counts_two_bytes", "9", "a=x\r\ny&b=2", {{"a", "x\ny"}, {"b", std::nullopt}}},
      {"final_cr_not_paired_past_body", "4", "a=x\r\nb=1", {{"a", "x\r"}}},
      {"ctrl_z_ends_input", "8", "a=1\x1a&b=2", {{"a", "1"}}},
  };
  for (const Case& c : cases) {
    FakeSystem fake;
    fake.env.vars["REQUEST_METHOD"] = "POST";
    fake.env.vars["CONTENT_LENGTH"] = c.length;
    fake.input.bytes = c.stdinBytes;
    Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices);
    ASSERT_TRUE(form) << c.name;
    EXPECT_EQ(PairsOf(form->pairs), c.want) << c.name;
    std::size_t announced = static_cast<std::size_t>(ParseContentLength(c.length));
    EXPECT_EQ(fake.input.consumed, std::min(announced, c.stdinBytes.size())) << c.name;
  }
}

TEST(ReadFormTest, BodyOfExactlyTheLimitIsRead) {
  FakeSystem fake;
  fake.env.vars["REQUEST_METHOD"] = "POST";
  fake.env.vars["CONTENT_LENGTH"] = std::to_string(kMaxBodyLength);
  fake.input.bytes = "a=" + std::string(kMaxBodyLength - 2, 'x');
  Result<FormInput> form = ReadForm(fake.env, fake.input, fake.notices);
  ASSERT_TRUE(form);
  ASSERT_EQ(form->pairs.size(), 1u);
  EXPECT_EQ(form->pairs[0].value->size(), kMaxBodyLength - 2);
}

}  // namespace
}  // namespace veltrano
