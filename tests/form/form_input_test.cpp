#include "form/form_input.hpp"

#include <gtest/gtest.h>

#include "response/response.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;
using Pairs = std::vector<std::pair<std::string, std::optional<std::string>>>;

Pairs PairsOf(const FormInput& form) {
  Pairs out;
  for (const FormPair& p : form.pairs) out.emplace_back(p.name, p.value);
  return out;
}

FormInput Parse(const std::string& body) {
  FormInput form;
  form.body = body;
  form.ParseFormData();
  return form;
}

struct ParseCase {
  const char* name;
  std::string body;
  Pairs want;
};

class ParseFormDataTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseFormDataTest, SplitsDecodesAndJoins) {
  EXPECT_EQ(PairsOf(Parse(GetParam().body)), GetParam().want) << "body: " << GetParam().body;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ParseFormDataTest,
    ::testing::Values(
        ParseCase{"plus_and_escape",
                  "name=John+Smith&sum=1%2B1",
                  {{"name", "John Smith"}, {"sum", "1+1"}}},
        ParseCase{"hex_both_cases", "x=%4a%4A&y=50%25", {{"x", "JJ"}, {"y", "50%"}}},
        ParseCase{"escaped_separators", "x=a%3Db%26c", {{"x", "a=b&c"}}},
        ParseCase{"consecutive_repeat_joins", "color=red&color=blue", {{"color", "red, blue"}}},
        ParseCase{"repeat_after_other_name",
                  "color=red&size=5&color=blue",
                  {{"color", "red"}, {"size", "5"}, {"color", "blue"}}},
        ParseCase{"repeat_is_case_sensitive", "a=1&A=2", {{"a", "1"}, {"A", "2"}}},
        ParseCase{"empty_value_drops_joined", "a=1&a=&b=2", {{"a", std::nullopt}, {"b", "2"}}},
        ParseCase{"after_empty_value_new_pair", "a=&a=1", {{"a", std::nullopt}, {"a", "1"}}},
        ParseCase{"first_equals_separates", "x=a=b", {{"x", "a=b"}}},
        ParseCase{"name_not_decoded", "first+name=Jo&%41=1", {{"first+name", "Jo"}, {"%41", "1"}}},
        ParseCase{"piece_without_equals_joins_name", "flag&b=2", {{"flag&b", "2"}}},
        ParseCase{"zero_byte_ends_value", "x=ab%00cd&y=1", {{"x", "ab"}, {"y", "1"}}},
        ParseCase{"leading_equals_skipped", "==x=1", {{"x", "1"}}}, ParseCase{"empty_body", "", {}},
        ParseCase{"trailing_piece_dropped", "a=1&flag", {{"a", "1"}}},
        ParseCase{"only_name", "flag", {}},
        ParseCase{"name_with_empty_value_last", "a=", {{"a", std::nullopt}}},
        ParseCase{"trailing_ampersand", "a=1&", {{"a", "1"}}},
        ParseCase{"line_feed_kept", "msg=a\nb&c=1", {{"msg", "a\nb"}, {"c", "1"}}},
        ParseCase{"double_ampersand_in_name", "a=1&&b=2", {{"a", "1"}, {"&b", "2"}}},
        ParseCase{"second_equals_starts_value", "x==1", {{"x", "=1"}}},
        ParseCase{"empty_value_then_repeat_is_new_pair",
                  "a=1&a=2&a=&a=3&a=4",
                  {{"a", std::nullopt}, {"a", "3, 4"}}},
        ParseCase{"equals_only_piece_skipped", "a=1&=&b=2", {{"a", "1"}, {"&b", "2"}}},
        ParseCase{"joined_values_decoded_each", "c=a+b&c=%41", {{"c", "a b, A"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseFormDataTest, BadEscapeAnywhereEndsTheRequest) {
  for (const char* body :
       {"x=100%", "x=%zz", "x=%4", "x=%4g", "x=%%41", "ok=1&undeclared=%G0", "x=%00%zz"}) {
    try {
      Parse(body);
      ADD_FAILURE() << "no error for " << body;
    } catch (const FatalError& e) {
      EXPECT_EQ(e.title, "Veltrano error") << body;
      EXPECT_EQ(e.message, "Invalid escape sequence") << body;
    }
  }
}

TEST(LookupFormValueTest, FirstPairOfNameWinsIgnoringCase) {
  FormInput form = Parse("first+name=Jo&color=red&size=5&color=blue&a=&a=1");
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

struct LengthCase {
  const char* name;
  std::string text;
  long long want;
};

class ParseContentLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ParseContentLengthTest, ReadsLikeAtoiWithoutOverflow) {
  EXPECT_EQ(ParseContentLength(GetParam().text), GetParam().want);
}

constexpr long long kOver = static_cast<long long>(kMaxBodyLength) + 1;

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseContentLengthTest,
    ::testing::Values(LengthCase{"plain", "42", 42}, LengthCase{"white_space", " \t\n\v\f\r7", 7},
                      LengthCase{"plus", "+7", 7}, LengthCase{"minus", "-5", -5},
                      LengthCase{"trailing_text", "12abc", 12}, LengthCase{"letters", "abc", 0},
                      LengthCase{"empty", "", 0}, LengthCase{"sign_only", "-", 0},
                      LengthCase{"space_after_sign", "- 5", 0},
                      LengthCase{"at_limit", "1048576", 1048576},
                      LengthCase{"over_limit", "1048577", kOver},
                      LengthCase{"huge", "99999999999999999999999999", kOver},
                      LengthCase{"huge_negative", "-99999999999999999999999999", -kOver}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  std::optional<std::string> method;
  std::optional<std::string> length;
  std::string title;
  std::string message;
};

class ReadFormFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ReadFormFailureTest, ReportsFatalPage) {
  FakeSystem fake;
  if (GetParam().method) fake.env.vars["REQUEST_METHOD"] = *GetParam().method;
  if (GetParam().length) fake.env.vars["CONTENT_LENGTH"] = *GetParam().length;
  fake.input.bytes = "a=1";
  FormInput form;
  try {
    form.ReadForm(fake.system, "POST");
    ADD_FAILURE() << "no fatal page";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, GetParam().title);
    EXPECT_EQ(e.message, GetParam().message);
  }
  EXPECT_EQ(fake.output.bytes, "");
}

const std::string kNotPost = "You must submit a form with a POST method.";
const std::string kNoLength = "Your browser didn't send any content.  Is it not POST capable?";
const std::string kNegative = "Your browser did not send any data from the form";
const std::string kTooLarge = "The form data is too large.";

INSTANTIATE_TEST_SUITE_P(
    Requests, ReadFormFailureTest,
    ::testing::Values(
        FailureCase{"get", "GET", "3", "Form Submit Error", kNotPost},
        FailureCase{"lower_case_post", "post", "3", "Form Submit Error", kNotPost},
        FailureCase{"empty_method", "", "3", "Form Submit Error", kNotPost},
        FailureCase{"method_checked_first", "GET", std::nullopt, "Form Submit Error", kNotPost},
        FailureCase{"no_length", "POST", std::nullopt, "No data", kNoLength},
        FailureCase{"negative_length", "POST", "-5", "No data", kNegative},
        FailureCase{"huge_negative_length", "POST", "-99999999999999999999", "No data", kNegative},
        FailureCase{"one_over_limit", "POST", "1048577", "Form Submit Error", kTooLarge},
        FailureCase{"huge_length", "POST", "99999999999999999999", "Form Submit Error", kTooLarge}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadFormTest, UnsetMethodWritesPlainConsoleMessage) {
  FakeSystem fake;
  FormInput form;
  EXPECT_THROW(form.ReadForm(fake.system, "POST"), RequestEnded);
  EXPECT_EQ(fake.output.bytes,
            "Error occured while collecting some environment variables.\r\n"
            "Chances are you are trying to run this program from the\r\n"
            "command line prompt.  It must be run as part of a cgi call\r\n"
            "from the web server.");
}

struct BodyCase {
  const char* name;
  std::string length;
  std::string stdinBytes;
  Pairs want;
};

class ReadFormBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(ReadFormBodyTest, ReadsAnnouncedLengthInTextMode) {
  FakeSystem fake;
  fake.env.vars["REQUEST_METHOD"] = "POST";
  fake.env.vars["CONTENT_LENGTH"] = GetParam().length;
  fake.input.bytes = GetParam().stdinBytes;
  FormInput form;
  form.ReadForm(fake.system, "POST");
  EXPECT_EQ(PairsOf(form), GetParam().want);
  EXPECT_EQ(fake.output.bytes, "");
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReadFormBodyTest,
    ::testing::Values(
        BodyCase{"exact", "7", "a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        BodyCase{"longer_input_cut", "6", "a=1&b=2", {{"a", "1"}, {"b", std::nullopt}}},
        BodyCase{"short_body_parsed_as_far_as_it_came", "500", "a=1&b=2", {{"a", "1"}, {"b", "2"}}},
        BodyCase{"short_body_cut_in_name", "500", "a=1&bb", {{"a", "1"}}},
        BodyCase{"zero_length", "0", "a=1", {}},
        BodyCase{"letters_count_as_zero", "abc", "a=1", {}},
        BodyCase{"crlf_arrives_as_lf", "11", "a=x\r\ny&b=2", {{"a", "x\ny"}, {"b", "2"}}},
        // The length counts bytes as sent: a CR LF pair is two of them, and
        // nothing past the announced body is read.
        BodyCase{
            "crlf_counts_two_bytes", "9", "a=x\r\ny&b=2", {{"a", "x\ny"}, {"b", std::nullopt}}},
        BodyCase{"final_cr_not_paired_past_body", "4", "a=x\r\nb=1", {{"a", "x\r"}}},
        BodyCase{"ctrl_z_ends_input", "9", "a=1\x1a&b=2", {{"a", "1"}}},
        BodyCase{"multipart_parsed_as_pairs", "9", "--x\r\na=1", {{"--x\na", "1"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadFormTest, BodyOfExactlyTheLimitIsRead) {
  FakeSystem fake;
  fake.env.vars["REQUEST_METHOD"] = "POST";
  fake.env.vars["CONTENT_LENGTH"] = std::to_string(kMaxBodyLength);
  fake.input.bytes = "a=" + std::string(kMaxBodyLength - 2, 'x');
  FormInput form;
  form.ReadForm(fake.system, "POST");
  ASSERT_EQ(form.pairs.size(), 1u);
  EXPECT_EQ(form.pairs[0].value->size(), kMaxBodyLength - 2);
}

}  // namespace
}  // namespace veltrano
