#include "template/field_definitions.hpp"

#include <gtest/gtest.h>

#include "support/fake_system.hpp"
#include "template/template_test_util.hpp"

namespace veltrano {
namespace {

using testing::CatchFatal;
using testing::FakeSystem;

struct ParseCase {
  const char* name;
  std::string section;
  std::string want;  // DumpFields
};

class ParseFieldsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseFieldsTest, BuildsOneRecordPerEntry) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  std::optional<FatalError> error =
      CatchFatal([&] { ParseFieldDefinitions(ctx, GetParam().section); });
  ASSERT_FALSE(error) << *error->title << ": " << error->message;
  EXPECT_EQ(DumpFields(ctx.fields), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, ParseFieldsTest,
    ::testing::Values(
        ParseCase{"full_entry",
                  "\n<NAME=\"email\" required REQUIREDERR=\"Please give your e-mail address\" "
                  "TYPE=\"EMAIL\" TYPEERR=\"That e-mail address is not valid\" respondto>\n",
                  "name=\"email\" required requiredErr=\"Please give your e-mail address\" "
                  "type=EMAIL typeErr=\"That e-mail address is not valid\" respondto\n"},
        ParseCase{"one_per_line", "\n<NAME=\"a\">\n<NAME=\"b\" sendto>\n<NAME=\"c\">\n",
                  "name=\"a\"\nname=\"b\" sendto\nname=\"c\"\n"},
        ParseCase{"first_entry_on_tag_line_is_lost", "<NAME=\"a\">\n<NAME=\"b\">\n",
                  "name=\"b\"\n"},
        ParseCase{"adjacent_entry_is_lost", "\n<NAME=\"a\"><NAME=\"b\">\n<NAME=\"c\">",
                  "name=\"a\"\nname=\"c\"\n"},
        ParseCase{"notes_between_entries", "\nFirst:\n<NAME=\"a\"> then > more\n<NAME=\"b\">",
                  "name=\"a\"\nname=\"b\"\n"},
        ParseCase{"tab_joins_tokens", "\n<NAME=\"a\"\trequired>", "name=\"a\"\n"},
        ParseCase{"lf_and_space_runs_separate",
                  "\n<  NAME=\"a\"\n\nrequired \n  REQUIREDERR=\"x\"  >",
                  "name=\"a\" required requiredErr=\"x\"\n"},
        ParseCase{"words_any_case", "\n<name=\"a\" REQUIRED Requirederr=\"x\" Sendto>",
                  "name=\"a\" required requiredErr=\"x\" sendto\n"},
        ParseCase{"longer_word_not_required", "\n<NAME=\"a\" requiredfield xsendto>",
                  "name=\"a\"\n"},
        ParseCase{"unknown_type_needs_no_typeerr", "\n<NAME=\"a\" TYPE=\"DATE\">", "name=\"a\"\n"},
        ParseCase{
            "types_any_case",
            "\n<NAME=\"a\" TYPE=\"int\" TYPEERR=\"n\">\n<NAME=\"b\" type=\"Cc\" typeerr=\"c\">",
            "name=\"a\" type=INT typeErr=\"n\"\nname=\"b\" type=CC typeErr=\"c\"\n"},
        ParseCase{"same_name_twice", "\n<NAME=\"a\">\n<NAME=\"a\">", "name=\"a\"\nname=\"a\"\n"},
        ParseCase{"later_value_replaces", "\n<NAME=\"a\" NAME=\"b\" PGP=\"k1\" PGP=\"k2\">",
                  "name=\"b\" pgp=\"k2\"\n"},
        ParseCase{"three_quotes_like_two", "\n<NAME=\"a\"b\" REQUIREDERR=\"x\"\"y\" required>",
                  "name=\"a\" required requiredErr=\"x\"\n"},
        ParseCase{"typeerr_quote_last", "\n<NAME=\"a\" TYPE=\"INT\" \"x\"TYPEERR=\">",
                  "name=\"a\" type=INT typeErr=\"\"\n"},
        ParseCase{"pgp_without_quote_after_keyword_ignored",
                  "\n<NAME=\"a\" \"k\"PGP=\" PGP=k sendto>", "name=\"a\" sendto\n"},
        ParseCase{"one_char_quote_dropped", "\n<NAME=\"a\" \">", "name=\"a\"\n"},
        ParseCase{"unclosed_entry_at_end", "\n<NAME=\"a\" respondto", "name=\"a\" respondto\n"},
        ParseCase{"leading_run_of_opening_brackets", "\n<<<NAME=\"a\">", "name=\"a\"\n"},
        ParseCase{"leading_run_of_closing_brackets", "\n<>>NAME=\"a\">>\n<NAME=\"b\">",
                  "name=\"a\"\nname=\"b\"\n"},
        ParseCase{"cr_is_ordinary", "\n<NAME=\"a\"\rrequired>", "name=\"a\"\n"},
        ParseCase{"tab_inside_quotes_lf_after",
                  "\n<NAME=\"a\" required REQUIREDERR=\"x\ty z\"\nsendto>",
                  "name=\"a\" required requiredErr=\"x\ty z\" sendto\n"},
        ParseCase{"requirederr_from_first_quote_anywhere",
                  "\n<NAME=\"a\" required \"x\"REQUIREDERR=y>",
                  "name=\"a\" required requiredErr=\"x\"\n"},
        ParseCase{"typeerr_keeps_text_after_quote_less_last_char",
                  "\n<NAME=\"a\" TYPE=\"CC\" TYPEERR=\"ab\"cd>",
                  "name=\"a\" type=CC typeErr=\"ab\"c\"\n"},
        ParseCase{"type_value_must_match_to_the_end", "\n<NAME=\"a\" TYPE=\"INT\"x>",
                  "name=\"a\"\n"},
        ParseCase{"unknown_type_resets_earlier", "\n<NAME=\"a\" TYPE=\"INT\" TYPE=\"x\">",
                  "name=\"a\"\n"},
        ParseCase{"empty_name_is_a_name", "\n<NAME=\"\">", "name=\"\"\n"},
        ParseCase{"no_token_limits",
                  "\n<NAME=\"a\" t1 t2 t3 t4 t5 t6 t7 t8 t9 t10 t11 required REQUIREDERR=\"" +
                      std::string(600, 'e') + "\">",
                  "name=\"a\" required requiredErr=\"" + std::string(600, 'e') + "\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailCase {
  const char* name;
  std::string section;
  std::string title;
  std::string message;
};

class ParseFieldsFailureTest : public ::testing::TestWithParam<FailCase> {};

TEST_P(ParseFieldsFailureTest, ReportsPage) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  std::optional<FatalError> error =
      CatchFatal([&] { ParseFieldDefinitions(ctx, GetParam().section); });
  ASSERT_TRUE(error) << DumpFields(ctx.fields);
  EXPECT_EQ(error->title, GetParam().title);
  EXPECT_EQ(error->message, GetParam().message);
}

const std::string kMissingQuote =
    "A closing quotation mark was missing from the below line.\n<br><pre>&lt;";

INSTANTIATE_TEST_SUITE_P(
    Sections, ParseFieldsFailureTest,
    ::testing::Values(
        FailCase{"one_quote", "\n<NAME=\"a required>", "Template Error",
                 kMissingQuote + "NAME=\"a required&gt;</pre>"},
        FailCase{"quoted_text_over_two_lines", "\n<NAME=\"a\" required REQUIREDERR=\"Give\nit\">",
                 "Template Error",
                 kMissingQuote + "NAME=\"a\" required REQUIREDERR=\"Give\nit\"&gt;</pre>"},
        FailCase{"html_tag_ends_entry", "\n<NAME=\"a\" required REQUIREDERR=\"<b>x</b>\">",
                 "Template Error",
                 kMissingQuote + "NAME=\"a\" required REQUIREDERR=\"<b&gt;</pre>"},
        FailCase{"name_without_quote", "\n<NAME=a>", "Template Error",
                 "Error identifying the name line.  Please check your template file\n<br><pre>"
                 "NAME=a</pre>"},
        FailCase{"name_keyword_in_text", "\n<NAME=\"a\" REQUIREDERR=\"Fill in name=x\">",
                 "Template Error",
                 "Error identifying the name line.  Please check your template file\n<br><pre>"
                 "REQUIREDERR=\"Fill in name=x\"</pre>"},
        FailCase{"name_quote_before_keyword", "\n<\"x\"NAME=\">", "Template Error",
                 "Error identifying the name line.  Please check your template file\n<br><pre>"
                 "\"x\"NAME=\"</pre>"},
        FailCase{"requirederr_without_quote", "\n<NAME=\"a\" REQUIREDERR=x>", "Template Error",
                 "Error identifying requiredErr line.  Please check your template file\n"
                 "<br><pre>REQUIREDERR=x</pre>"},
        FailCase{"typeerr_without_quote", "\n<NAME=\"a\" \"t\"TYPEERR=x>", "Template Error",
                 "Error identifying typeErr line.  Please check your template file\n"
                 "<br><pre>\"t\"TYPEERR=x</pre>"},
        FailCase{"html_in_requirederr", "\n<NAME=\"a\" REQUIREDERR=\"a < b\">",
                 "Error in template file",
                 "Error on a.  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to "
                 "customize your errors."},
        FailCase{"html_in_typeerr_before_name", "\n<TYPEERR=\"<i\" NAME=\"a\">",
                 "Error in template file",
                 "Error on (null).  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag "
                 "below to customize your errors."},
        FailCase{"sendto_then_respondto", "\n<NAME=\"a\" sendto respondto>",
                 "Bad command in template file",
                 "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; "
                 "tag"},
        FailCase{"respondto_then_sendto", "\n<NAME=\"a\" RESPONDTO SendTo>",
                 "Bad command in template file",
                 "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; "
                 "tag"},
        FailCase{"required_without_text", "\n<NAME=\"a\" required>", "Veltrano template file error",
                 "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. "
                 "Please check template file under &lt;NAME=\"a\""},
        FailCase{"spaces_around_equals", "\n<NAME=\"a\" required REQUIREDERR = \"x\">",
                 "Veltrano template file error",
                 "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. "
                 "Please check template file under &lt;NAME=\"a\""},
        FailCase{"type_without_text", "\n<NAME=\"a\" TYPE=\"EMAIL\">",
                 "Veltrano template file error",
                 "You specified the TYPE attribute, but no associated TYPEERR attribute. Please "
                 "check template file under &lt;NAME=\"a\""},
        FailCase{"html_in_requirederr_before_name", "\n<REQUIREDERR=\"a<b\" NAME=\"a\">",
                 "Error in template file",
                 "Error on (null).  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag "
                 "below to customize your errors."},
        FailCase{"html_in_typeerr_after_name", "\n<NAME=\"n\" TYPEERR=\"x\" TYPEERR=\"<\">",
                 "Error in template file",
                 "Error on n.  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to "
                 "customize your errors."},
        FailCase{"html_before_the_quote", "\n<NAME=\"a\" x<REQUIREDERR=\"b\">",
                 "Error in template file",
                 "Error on a.  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to "
                 "customize your errors."},
        FailCase{"type_without_name_or_text", "\n<TYPE=\"INT\">", "Veltrano template file error",
                 "You specified the TYPE attribute, but no associated TYPEERR attribute. Please "
                 "check template file under &lt;NAME=\"(null)\""},
        FailCase{"required_checked_before_type", "\n<NAME=\"a\" TYPE=\"INT\" required>",
                 "Veltrano template file error",
                 "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. "
                 "Please check template file under &lt;NAME=\"a\""},
        FailCase{"required_without_name_or_text", "\n<required>", "Veltrano template file error",
                 "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. "
                 "Please check template file under &lt;NAME=\"(null)\""},
        FailCase{"entry_without_name", "\n<NAME=\"a\">\n<sendto  PGP=\"k\">", "Template Error",
                 "A field entry has no NAME attribute.  Please check your template file\n"
                 "<br><pre>&lt;sendto  PGP=\"k\"&gt;</pre>"},
        FailCase{"no_entries", "\nonly notes\n", "Template Error",
                 "The FORMDATA section holds no field entry.  Please check your template file"},
        FailCase{"empty_section", "", "Template Error",
                 "The FORMDATA section holds no field entry.  Please check your template file"},
        FailCase{"only_lost_entry", "<NAME=\"a\">", "Template Error",
                 "The FORMDATA section holds no field entry.  Please check your template file"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano
