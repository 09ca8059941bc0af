#include "expand/placeholders.hpp"

#include <gtest/gtest.h>

#include "response/response.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;
using Fields = std::vector<std::pair<std::string, std::optional<std::string>>>;

const Fields kOrder = {{"name", "Ann"}, {"qty", "3"}, {"path", "x"}, {"comment", std::nullopt}};

struct ExpandCase {
  const char* name;
  std::string text;
  std::string want;
  Fields fields = kOrder;
  Escaping escaping = Escaping::kNone;
};

std::string Expand(const ExpandCase& c) {
  FakeSystem fake;  // clock: 14:05:09 on 7 March 1998
  fake.env.vars = {{"SERVER_PORT", "80"},      {"PATH", "/usr/bin"}, {"B", "env-b"},
                   {"SYSTEMTIME", "env-time"}, {"COMMENT_ENV", "c"}, {"AMP", "a&b"}};
  RequestContext ctx(fake.system);
  for (const auto& [name, value] : c.fields) {
    FormField field;
    field.name = name;
    field.value = value;
    ctx.fields.push_back(field);
  }
  return ExpandPlaceholders(ctx, c.text, c.escaping);
}

class ExpandPlaceholdersTest : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandPlaceholdersTest, Expands) {
  EXPECT_EQ(Expand(GetParam()), GetParam().want) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"fields", "Dear $name$, you ordered $qty$ items.",
                   "Dear Ann, you ordered 3 items."},
        ExpandCase{"empty", "", ""}, ExpandCase{"no_dollar", "plain text", "plain text"},
        ExpandCase{"leading_space", "$name$ wrote", " Ann wrote"},
        ExpandCase{"leading_space_unknown", "$comment$", " "},
        ExpandCase{"single_dollar", "$", " "},
        ExpandCase{"unmatched_dollar_takes_rest", "Total $5 each", "Total "},
        ExpandCase{"doubled_dollar_separates_once", "a$$qty$b", "a3b"},
        ExpandCase{"trailing_doubled_dollar", "5$$", "5"},
        ExpandCase{"adjacent_placeholders", "$qty$$name$", " 3name"},
        ExpandCase{"dollar_in_value_kept", "x$v$", "x5$", {{"v", "5$"}}},
        ExpandCase{"value_not_expanded_again", "x$v$", "x$qty$", {{"v", "$qty$"}, {"qty", "3"}}},
        ExpandCase{"name_with_spaces_and_lines", "a$no such\nname$b", "ab"},
        ExpandCase{"percent_as_itself", "100% $v$", "100% %s%d", {{"v", "%s%d"}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Lookup, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"time_and_date", "Sent at $systemtime$ on $systemdate$",
                   "Sent at 14:05:09 on 03/07/98"},
        ExpandCase{"environment_upper_cased", "Port $server_port$", "Port 80"},
        ExpandCase{"field_name_ignores_case", "Hi $NAME$!", "Hi Ann!"},
        ExpandCase{"unknown_name", "Hi $nickname$!", "Hi !"},
        ExpandCase{"environment_before_later_field", "Path: $path$", "Path: /usr/bin"},
        ExpandCase{"field_without_value_goes_on", "Note: $comment$", "Note: "},
        ExpandCase{"mixed_case_time_is_environment", "x$SystemTime$", "xenv-time"},
        ExpandCase{"time_only_in_lower_case", "x$SYSTEMDATE$", "x"},
        ExpandCase{"empty_value_ends_walk", "x$b$", "x", {{"b", ""}, {"c", "1"}}},
        ExpandCase{
            "none_value_reaches_environment", "x$b$", "xenv-b", {{"b", std::nullopt}, {"c", "1"}}},
        ExpandCase{"only_matching_fields_no_environment", "x$b$", "x", {{"b", std::nullopt}}},
        ExpandCase{"later_field_after_nothing_else",
                   "x$q$",
                   "xlate",
                   {{"a", "1"}, {"q", std::nullopt}, {"Q", "late"}}},
        ExpandCase{"environment_beats_later_field", "x$b$", "xenv-b", {{"a", "1"}, {"b", "f"}}},
        ExpandCase{"first_field_beats_environment", "x$b$", "xf", {{"b", "f"}, {"a", "1"}}},
        ExpandCase{"field_named_systemtime_first",
                   "x$systemtime$",
                   "xfield",
                   {{"systemtime", "field"}, {"a", "1"}}},
        ExpandCase{"field_named_systemtime_second",
                   "x$systemtime$",
                   "x14:05:09",
                   {{"a", "1"}, {"systemtime", "field"}}},
        ExpandCase{"no_fields_nothing_answers", "x$server_port$", "x", {}},
        ExpandCase{"same_time_twice", "$systemtime$|$systemtime$", " 14:05:09|14:05:09"},
        ExpandCase{"equals_in_name_finds_no_variable", "x$PATH=$", "x", {{"a", "1"}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Html, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"value_escaped",
                   "<b>$v$</b>",
                   "<b>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;</b>",
                   {{"v", "<script>alert('x')</script>"}},
                   Escaping::kHtml},
        ExpandCase{"environment_escaped", "<p>$amp$", "<p>a&amp;b", {{"x", "1"}}, Escaping::kHtml},
        ExpandCase{"literal_untouched",
                   "<a href=\"x\">&amp; $v$",
                   "<a href=\"x\">&amp; &quot;",
                   {{"v", "\""}},
                   Escaping::kHtml},
        ExpandCase{"none_leaves_value", "$v$", " <i>", {{"v", "<i>"}}, Escaping::kNone}),
    [](const auto& info) { return std::string(info.param.name); });

struct LimitCase {
  const char* name;
  std::string text;
  Fields fields;
  Escaping escaping;
  bool fits;
};

class ExpandLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ExpandLimitTest, BoundsWhatIsAppended) {
  ExpandCase c{"", GetParam().text, "", GetParam().fields, GetParam().escaping};
  if (GetParam().fits) {
    EXPECT_EQ(Expand(c).size(), kMaxExpandedLength);
    return;
  }
  try {
    Expand(c);
    ADD_FAILURE() << "no fatal page";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Mail send error");
    EXPECT_EQ(e.message,
              "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; "
              "and/or &lt;rmsgbody&gt; in your template file");
  }
}

const std::size_t kMax = kMaxExpandedLength;

INSTANTIATE_TEST_SUITE_P(
    Limits, ExpandLimitTest,
    ::testing::Values(
        LimitCase{"literal_at_limit", std::string(kMax, 'a'), {}, Escaping::kNone, true},
        LimitCase{"literal_over", std::string(kMax + 1, 'a'), {}, Escaping::kNone, false},
        LimitCase{
            "value_at_limit", "a$v$", {{"v", std::string(kMax - 1, 'v')}}, Escaping::kNone, true},
        LimitCase{"value_over", "a$v$", {{"v", std::string(kMax, 'v')}}, Escaping::kNone, false},
        LimitCase{
            "leading_space_counts", "$v$", {{"v", std::string(kMax, 'v')}}, Escaping::kNone, false},
        LimitCase{"literal_after_value_over",
                  "a$v$b",
                  {{"v", std::string(kMax - 1, 'v')}},
                  Escaping::kNone,
                  false},
        LimitCase{"escaped_at_limit",
                  std::string(kMax - 4, 'a') + "$v$",
                  {{"v", "<"}},
                  Escaping::kHtml,
                  true},
        LimitCase{"escaped_over",
                  std::string(kMax - 4, 'a') + "$v$",
                  {{"v", "<<"}},
                  Escaping::kHtml,
                  false},
        LimitCase{"unescaped_would_fit",
                  std::string(kMax - 3, 'a') + "$v$",
                  {{"v", "<<"}},
                  Escaping::kHtml,
                  false},
        LimitCase{
            "dollars_not_counted", std::string(kMax, 'a') + "$$$", {}, Escaping::kNone, true}),
    [](const auto& info) { return std::string(info.param.name); });

// A field without a name never matches, and counts as a field whose name
// differs: the time, date and environment are tried there.
TEST(ExpandPlaceholdersTest, FieldWithoutNameDiffers) {
  FakeSystem fake;
  fake.env.vars = {{"B", "env-b"}};
  RequestContext ctx(fake.system);
  ctx.fields.resize(2);
  ctx.fields[0].value = "nameless";
  ctx.fields[1].name = "b";
  ctx.fields[1].value = "field";
  EXPECT_EQ(ExpandPlaceholders(ctx, "x$b$"), "xenv-b");
  ctx.fields.erase(ctx.fields.begin());
  EXPECT_EQ(ExpandPlaceholders(ctx, "x$b$"), "xfield");
}

}  // namespace
}  // namespace veltrano
