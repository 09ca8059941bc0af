#include "expand/placeholders.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "expand/escapers.hpp"
#include "expand/shell_references.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using Fields = std::vector<std::pair<std::string, std::optional<std::string>>>;

const Fields kOrder = {{"name", "Ann"}, {"qty", "3"}, {"path", "x"}, {"comment", std::nullopt}};

// Reads 14:05:09 on 7 March 1998 first, and a second later at every further
// reading: two placeholders that show different times read it twice.
class TickingClock final : public platform::Clock {
 public:
  platform::LocalTime Now() const override {
    platform::LocalTime t{1998, 3, 7, 14, 5, 9 + readings_, 3600, 889275909};
    ++readings_;
    return t;
  }
  mutable int readings_ = 0;
};

enum class Into { kMail, kPage, kRecord, kCommand };

std::unique_ptr<Escaper> EscaperFor(Into into) {
  switch (into) {
    case Into::kMail:
      return std::make_unique<PlainText>();
    case Into::kPage:
      return std::make_unique<HtmlPage>();
    case Into::kRecord:
      return std::make_unique<DataRecord>();
    case Into::kCommand:
      return std::make_unique<ShellReferences>();
  }
  return nullptr;
}

struct ExpandCase {
  const char* name;
  std::string text;
  std::string want;
  Fields fields = kOrder;
  Into into = Into::kMail;
};

void PrintTo(const ExpandCase& c, std::ostream* os) {
  *os << c.name;
}

Result<std::string> Expand(const ExpandCase& c, int* clockReadings = nullptr) {
  testing::MapEnvironment env;
  env.vars = {{"SERVER_PORT", "80"},      {"PATH", "/usr/bin"}, {"B", "env-b"},
              {"SYSTEMTIME", "env-time"}, {"COMMENT_ENV", "c"}, {"AMP", "a&b"}};
  TickingClock clock;
  std::vector<FieldDefinition> definitions;
  FieldValues values;
  for (const auto& [name, value] : c.fields) {
    definitions.emplace_back().name = name;
    values.push_back(value);
  }
  std::unique_ptr<Escaper> escaper = EscaperFor(c.into);
  Result<std::string> out =
      ExpandPlaceholders(c.text, PlaceholderValues(definitions, values, env, clock), *escaper);
  if (clockReadings) *clockReadings = clock.readings_;
  return out;
}

class ExpandPlaceholdersTest : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandPlaceholdersTest, Expands) {
  Result<std::string> out = Expand(GetParam());
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, GetParam().want) << "text: " << GetParam().text;
}

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

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
        ExpandCase{"percent_as_itself", "100% $v$", "100% %s%d", {{"v", "%s%d"}}},
        ExpandCase{"mail_keeps_markup_and_lines", "$v$", " <i>\r\n\"", {{"v", "<i>\r\n\""}}}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    Lookup, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"time_and_date", "Sent at $systemtime$ on $systemdate$",
                   "Sent at 14:05:09 on 03/07/98"},
        ExpandCase{"iso_date_and_time", "Sent $systemdatetime$", "Sent 1998-03-07T14:05:09+01:00"},
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
        ExpandCase{"nameless_field_differs", "x$b$", "xenv-b", {{"", "nameless"}, {"b", "f"}}},
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
    CaseName);

// Pages: every replacement HTML-escaped; in the header block (before the
// first empty line) its line breaks become one space.
INSTANTIATE_TEST_SUITE_P(
    Page, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"value_escaped",
                   "<b>$v$</b>",
                   "<b>&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;</b>",
                   {{"v", "<script>alert('x')</script>"}},
                   Into::kPage},
        ExpandCase{"environment_escaped", "<p>$amp$", "<p>a&amp;b", {{"x", "1"}}, Into::kPage},
        ExpandCase{"literal_untouched",
                   "<a href=\"x\">&amp; $v$",
                   "<a href=\"x\">&amp; &quot;",
                   {{"v", "\""}},
                   Into::kPage},
        ExpandCase{"no_response_splitting",
                   "Location: /x?$v$\n\n<p>$v$</p>",
                   "Location: /x?a Set-Cookie: s=1 &lt;\n\n<p>a\r\n\r\nSet-Cookie: s=1 &lt;</p>",
                   {{"v", "a\r\n\r\nSet-Cookie: s=1 <"}},
                   Into::kPage},
        ExpandCase{"value_cannot_end_header_block",
                   "A: $v$\nB: $v$\n\n$v$",
                   "A: x y\nB: x y\n\nx\n\ny",
                   {{"v", "x\n\ny"}},
                   Into::kPage},
        ExpandCase{"cr_only_line_ends_header_block",
                   "A: $v$\r\n\r\n$v$",
                   "A: x y\r\n\r\nx\ny",
                   {{"v", "x\ny"}},
                   Into::kPage},
        ExpandCase{"value_on_own_line_keeps_header_open",
                   "A: 1\n$v$\nB: $v$\n\n$v$",
                   "A: 1\na b\nB: a b\n\na\rb",
                   {{"v", "a\rb"}},
                   Into::kPage}),
    CaseName);

// Data records: line breaks always become one space; a '"' is doubled only
// inside a double-quoted field of the format.
INSTANTIATE_TEST_SUITE_P(
    Record, ExpandPlaceholdersTest,
    ::testing::Values(
        ExpandCase{"quoted_fields",
                   "\"$v$\",\"$w$\"",
                   "\"Ann \"\"the\"\" Smith, Jr\",\"a b\"",
                   {{"v", "Ann \"the\" Smith, Jr"}, {"w", "a\r\n\nb"}},
                   Into::kRecord},
        ExpandCase{"unquoted_field_as_is",
                   "x,$v$;$v$",
                   "x,a,\"b\" <c> 100% 'd';a,\"b\" <c> 100% 'd'",
                   {{"v", "a,\"b\" <c> 100% 'd'"}},
                   Into::kRecord},
        ExpandCase{"after_closed_quote", "\"a\",$v$", "\"a\",\"", {{"v", "\""}}, Into::kRecord},
        ExpandCase{"value_quote_does_not_toggle",
                   "\"$v$ $v$\"",
                   "\"\"\" \"\"\"",
                   {{"v", "\""}},
                   Into::kRecord},
        ExpandCase{"quote_state_per_line",
                   "\"a\n$v$,\"$v$\"",
                   "\"a\n\",\"\"\"\"",
                   {{"v", "\""}},
                   Into::kRecord},
        ExpandCase{"line_breaks_outside_quotes",
                   "x,$v$",
                   "x,alice mallory,FORGED,1 ",
                   {{"v", "alice\nmallory,FORGED,1\r"}},
                   Into::kRecord}),
    CaseName);

TEST(ExpandPlaceholdersTest, ReadsClockOnlyWhenAsked) {
  int readings = -1;
  ASSERT_TRUE(Expand({"", "$name$ $path$ $nothing$", ""}, &readings).ok());
  EXPECT_EQ(readings, 0);
  ASSERT_TRUE(Expand({"", "$systemdate$ $systemtime$ $systemdatetime$", ""}, &readings).ok());
  EXPECT_EQ(readings, 1);
}

TEST(IsoDateTimeTest, ShowsTheZoneOffsetInHoursAndMinutes) {
  const struct {
    long offset;
    const char* want;
  } cases[] = {{0, "2026-12-07T08:02:11+00:00"},
               {3600, "2026-12-07T08:02:11+01:00"},
               {-(3 * 3600 + 1800), "2026-12-07T08:02:11-03:30"},
               {13 * 3600 + 45 * 60, "2026-12-07T08:02:11+13:45"}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsoDateTime({2026, 12, 7, 8, 2, 11, c.offset, 0}), c.want);
  }
}

// A template of many fields and a text that names the last of them, as
// the index finds them (how the cost grows is bench/scaling.sh's to show).
TEST(ExpandPlaceholdersTest, ManyFieldsFindTheirValues) {
  constexpr std::size_t kFields = 100000;
  constexpr std::size_t kNamed = 15000;  // each costs a space of the length limit
  std::vector<FieldDefinition> fields(kFields);
  for (std::size_t i = 0; i < kFields; ++i) fields[i].name = "f" + std::to_string(i);
  FieldValues values(kFields);
  values.back() = "last";
  std::string text;
  for (std::size_t i = kFields; i-- > kFields - kNamed;) text += "$F" + std::to_string(i) + "$ ";
  testing::FakeSystem fake;
  PlainText plain;
  Result<std::string> out =
      ExpandPlaceholders(text, PlaceholderValues(fields, values, fake.env, fake.clock), plain);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(*out, " last" + std::string(kNamed, ' '));
}

// Past a handful of fields names are found through an index; the order of
// precedence stays the walk's: the leading fields of the name, then the
// clock and the environment, then its later fields.
TEST(ExpandPlaceholdersTest, IndexKeepsTheWalksOrder) {
  auto fields = [](std::initializer_list<std::pair<const char*, const char*>> head) {
    Fields out;
    for (const auto& [name, value] : head) {
      out.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    while (out.size() < 20) out.emplace_back("pad" + std::to_string(out.size()), "p");
    return out;
  };
  const ExpandCase cases[] = {
      {"leading_value", "[$b$]", "[lead]", fields({{"B", "lead"}, {"b", "later"}})},
      {"environment_before_later", "[$b$]", "[env-b]", fields({{"x", "1"}, {"b", "later"}})},
      {"empty_leading_then_environment", "[$b$]", "[env-b]", fields({{"b", nullptr}})},
      {"later_without_environment", "[$q$]", "[later]", fields({{"x", "1"}, {"Q", "later"}})},
  };
  for (const ExpandCase& c : cases) {
    Result<std::string> out = Expand(c);
    ASSERT_TRUE(out.ok()) << c.name;
    EXPECT_EQ(*out, c.want) << c.name;
  }
  Fields same(20, {"b", std::nullopt});  // only fields of the name: nothing else is asked
  EXPECT_EQ(*Expand({"", "[$b$]", "", same}), "[]");
}

struct LimitCase {
  const char* name;
  std::string text;
  Fields fields;
  Into into;
  bool fits;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.name;
}

class ExpandLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ExpandLimitTest, BoundsWhatIsAppended) {
  const LimitCase& c = GetParam();
  Result<std::string> out = Expand({"", c.text, "", c.fields, c.into});
  ASSERT_EQ(out.ok(), c.fits);
  if (!c.fits) {
    EXPECT_EQ(out.failure().kind, FailureKind::kExpansionTooLong);
  } else if (c.into != Into::kCommand) {
    EXPECT_EQ(out->size(), kMaxExpandedLength);
  }
}

const std::size_t kMax = kMaxExpandedLength;

INSTANTIATE_TEST_SUITE_P(
    Limits, ExpandLimitTest,
    ::testing::Values(
        LimitCase{"literal_at_limit", std::string(kMax, 'a'), {}, Into::kMail, true},
        LimitCase{"literal_over", std::string(kMax + 1, 'a'), {}, Into::kMail, false},
        LimitCase{"value_at_limit", "a$v$", {{"v", std::string(kMax - 1, 'v')}}, Into::kMail, true},
        LimitCase{"value_over", "a$v$", {{"v", std::string(kMax, 'v')}}, Into::kMail, false},
        LimitCase{
            "leading_space_counts", "$v$", {{"v", std::string(kMax, 'v')}}, Into::kMail, false},
        LimitCase{"literal_after_value_over",
                  "a$v$b",
                  {{"v", std::string(kMax - 1, 'v')}},
                  Into::kMail,
                  false},
        LimitCase{"escaped_at_limit",
                  std::string(kMax - 4, 'a') + "$v$",
                  {{"v", "<"}},
                  Into::kPage,
                  true},
        LimitCase{
            "escaped_over", std::string(kMax - 4, 'a') + "$v$", {{"v", "<<"}}, Into::kPage, false},
        LimitCase{"unescaped_would_fit",
                  std::string(kMax - 3, 'a') + "$v$",
                  {{"v", "<<"}},
                  Into::kPage,
                  false},
        LimitCase{"doubled_quote_counts",
                  "\"" + std::string(kMax - 3, 'a') + "$v$\"",
                  {{"v", "\""}},
                  Into::kRecord,
                  false},
        // A command counts each value whole, not its short reference.
        LimitCase{"command_value_at_limit",
                  "a$v$",
                  {{"v", std::string(kMax - 1, 'v')}},
                  Into::kCommand,
                  true},
        LimitCase{
            "command_value_over", "a$v$", {{"v", std::string(kMax, 'v')}}, Into::kCommand, false},
        LimitCase{"dollars_not_counted", std::string(kMax, 'a') + "$$$", {}, Into::kMail, true}),
    CaseName);

}  // namespace
}  // namespace veltrano
