#include "template/field_definitions.hpp"

#include <gtest/gtest.h>

#include "response/failure_page.hpp"

namespace veltrano {
namespace {

using testing::FailsWithPage;

TEST(ParseFieldDefinitionsTest, BuildsOneDefinitionPerEntry) {
  struct Case {
    const char* name;
    std::string section;
    std::string want;  // DumpFields
  };
  const std::string longText(600, 'e');
  const Case cases[] = {
      {"full_entry",
       "\n<NAME=\"email\" required REQUIREDERR=\"Please give your e-mail address\" "
       "TYPE=\"EMAIL\" TYPEERR=\"That e-mail address is not valid\" respondto>\n",
       "name=\"email\" required requiredErr=\"Please give your e-mail address\" "
       "type=EMAIL typeErr=\"That e-mail address is not valid\" respondto\n"},
      {"one_per_line", "\n<NAME=\"a\">\n<NAME=\"b\" sendto>\n<NAME=\"c\">\n",
       "name=\"a\"\nname=\"b\" sendto\nname=\"c\"\n"},
      {"first_entry_on_tag_line_is_lost", "<NAME=\"a\">\n<NAME=\"b\">\n", "name=\"b\"\n"},
      {"adjacent_entry_is_lost", "\n<NAME=\"a\"><NAME=\"b\">\n<NAME=\"c\">",
       "name=\"a\"\nname=\"c\"\n"},
      {"notes_between_entries", "\nFirst:\n<NAME=\"a\"> then > more\n<NAME=\"b\">",
       "name=\"a\"\nname=\"b\"\n"},
      {"tab_joins_tokens", "\n<NAME=\"a\"\trequired>", "name=\"a\"\n"},
      {"lf_and_space_runs_separate", "\n<  NAME=\"a\"\n\nrequired \n  REQUIREDERR=\"x\"  >",
       "name=\"a\" required requiredErr=\"x\"\n"},
      {"words_any_case", "\n<name=\"a\" REQUIRED Requirederr=\"x\" Sendto>",
       "name=\"a\" required requiredErr=\"x\" sendto\n"},
      {"longer_word_not_required", "\n<NAME=\"a\" requiredfield xsendto>", "name=\"a\"\n"},
      {"honeypot_word", "\n<NAME=\"website\" HoneyPot>\n<NAME=\"b\" honeypots>",
       "name=\"website\" honeypot\nname=\"b\"\n"},
      {"unknown_type_needs_no_typeerr", "\n<NAME=\"a\" TYPE=\"DATE\">", "name=\"a\"\n"},
      {"types_any_case",
       "\n<NAME=\"a\" TYPE=\"int\" TYPEERR=\"n\">\n<NAME=\"b\" type=\"Cc\" typeerr=\"c\">",
       "name=\"a\" type=INT typeErr=\"n\"\nname=\"b\" type=CC typeErr=\"c\"\n"},
      {"same_name_twice", "\n<NAME=\"a\">\n<NAME=\"a\">", "name=\"a\"\nname=\"a\"\n"},
      {"later_value_replaces", "\n<NAME=\"a\" NAME=\"b\" PGP=\"k1\" PGP=\"k2\">",
       "name=\"b\" pgp=\"k2\"\n"},
      {"three_quotes_like_two", "\n<NAME=\"a\"b\" REQUIREDERR=\"x\"\"y\" required>",
       "name=\"a\" required requiredErr=\"x\"\n"},
      {"typeerr_quote_last", "\n<NAME=\"a\" TYPE=\"INT\" \"x\"TYPEERR=\">",
       "name=\"a\" type=INT typeErr=\"\"\n"},
      {"pgp_without_quote_after_keyword_ignored", "\n<NAME=\"a\" \"k\"PGP=\" PGP=k sendto>",
       "name=\"a\" sendto\n"},
      {"one_char_quote_dropped", "\n<NAME=\"a\" \">", "name=\"a\"\n"},
      {"unclosed_entry_at_end", "\n<NAME=\"a\" respondto", "name=\"a\" respondto\n"},
      {"leading_run_of_opening_brackets", "\n<<<NAME=\"a\">", "name=\"a\"\n"},
      {"leading_run_of_closing_brackets", "\n<>>NAME=\"a\">>\n<NAME=\"b\">",
       "name=\"a\"\nname=\"b\"\n"},
      {"cr_is_ordinary", "\n<NAME=\"a\"\rrequired>", "name=\"a\"\n"},
      {"tab_inside_quotes_lf_after", "\n<NAME=\"a\" required REQUIREDERR=\"x\ty z\"\nsendto>",
       "name=\"a\" required requiredErr=\"x\ty z\" sendto\n"},
      {"requirederr_from_first_quote_anywhere", "\n<NAME=\"a\" required \"x\"REQUIREDERR=y>",
       "name=\"a\" required requiredErr=\"x\"\n"},
      {"typeerr_keeps_text_after_quote_less_last_char",
       "\n<NAME=\"a\" TYPE=\"CC\" TYPEERR=\"ab\"cd>", "name=\"a\" type=CC typeErr=\"ab\"c\"\n"},
      {"type_value_must_match_to_the_end", "\n<NAME=\"a\" TYPE=\"INT\"x>", "name=\"a\"\n"},
      {"unknown_type_resets_earlier", "\n<NAME=\"a\" TYPE=\"INT\" TYPE=\"x\">", "name=\"a\"\n"},
      {"empty_name_is_a_name", "\n<NAME=\"\">", "name=\"\"\n"},
      {"maxlen_with_text", "\n<NAME=\"a\" MAXLEN=\"100\" MAXLENERR=\"At most 100, please\">",
       "name=\"a\" maxLen=100 maxLenErr=\"At most 100, please\"\n"},
      {"maxlen_any_case_later_replaces",
       "\n<NAME=\"a\" maxlen=\"5\" MaxLen=\"007\" maxlenerr=\"x\">",
       "name=\"a\" maxLen=7 maxLenErr=\"x\"\n"},
      {"maxlen_largest", "\n<NAME=\"a\" MAXLEN=\"18446744073709551615\" MAXLENERR=\"x\">",
       "name=\"a\" maxLen=18446744073709551615 maxLenErr=\"x\"\n"},
      {"maxlenerr_alone_kept", "\n<NAME=\"a\" MAXLENERR=\"x\">", "name=\"a\" maxLenErr=\"x\"\n"},
      // The new keywords count only at a token's start, and their tokens are
      // nothing else.
      {"maxlenerr_text_is_only_text",
       "\n<NAME=\"a\" MAXLEN=\"5\" MAXLENERR=\"name=x TYPE= required PGP=\">",
       "name=\"a\" maxLen=5 maxLenErr=\"name=x TYPE= required PGP=\"\n"},
      {"maxlen_in_other_texts_sets_no_bound",
       "\n<NAME=\"a\" required REQUIREDERR=\"MAXLEN=5\" TYPE=\"INT\" TYPEERR=\"MAXLENERR=x\">",
       "name=\"a\" required requiredErr=\"MAXLEN=5\" type=INT typeErr=\"MAXLENERR=x\"\n"},
      {"maxlen_later_in_token_not_known", "\n<NAME=\"a\"\tMAXLEN=\"5\">", "name=\"a\"\n"},
      {"attach_with_text",
       "\n<NAME=\"cv\" required REQUIREDERR=\"r\" ATTACH=\"PDF  docx\" ATTACHERR=\"A CV, please\">",
       "name=\"cv\" required requiredErr=\"r\" attach=\"pdf docx\" attachErr=\"A CV, please\"\n"},
      // ATTACH= is not the start of ATTACHERR=, and neither text is anything else.
      {"attach_texts_are_only_text",
       "\n<NAME=\"a\" attacherr=\"name=x TYPE= required PGP=\" attach=\"png\">",
       "name=\"a\" attach=\"png\" attachErr=\"name=x TYPE= required PGP=\"\n"},
      {"attach_in_other_texts_is_no_attach",
       "\n<NAME=\"a\" required REQUIREDERR=\"ATTACH=pdf please\">",
       "name=\"a\" required requiredErr=\"ATTACH=pdf please\"\n"},
      {"no_token_limits",
       "\n<NAME=\"a\" t1 t2 t3 t4 t5 t6 t7 t8 t9 t10 t11 required REQUIREDERR=\"" + longText +
           "\">",
       "name=\"a\" required requiredErr=\"" + longText + "\"\n"},
  };
  for (const Case& c : cases) {
    Result<std::vector<FieldDefinition>> fields = ParseFieldDefinitions(c.section);
    ASSERT_TRUE(fields) << c.name << ": " << PageFor(fields.failure()).message;
    EXPECT_EQ(DumpFields(*fields), c.want) << c.name;
  }
}

TEST(ParseFieldDefinitionsTest, MalformedEntryFailsWithItsPage) {
  struct Case {
    const char* name;
    std::string section;
    FailureKind kind;
    std::string title;
    std::string message;
  };
  const std::string quote =
      "A closing quotation mark was missing from the below line.\n<br><pre>&lt;";
  const std::string nameLine =
      "Error identifying the name line.  Please check your template file\n<br><pre>";
  const std::string html =
      ".  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to "
      "customize your errors.";
  const std::string both =
      "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; tag";
  const std::string required =
      "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. Please "
      "check template file under &lt;NAME=\"";
  const std::string type =
      "You specified the TYPE attribute, but no associated TYPEERR attribute. Please check "
      "template file under &lt;NAME=\"";
  const std::string maxLen =
      "You specified the MAXLEN attribute, but no associated MAXLENERR "
      "attribute. Please check template file under &lt;NAME=\"";
  auto maxLenLine = [](const std::string& token) {
    return "Error identifying MAXLEN line.  Please check your template file\n<br><pre>" + token +
           "</pre>";
  };
  auto attachLine = [](const std::string& token) {
    return "Error identifying ATTACH line.  Please check your template file\n<br><pre>" + token +
           "</pre>";
  };
  const std::string noEntry =
      "The FORMDATA section holds no field entry.  Please check your template file";
  using enum FailureKind;
  const Case cases[] = {
      {"one_quote", "\n<NAME=\"a required>", kMissingClosingQuote, "Template Error",
       quote + "NAME=\"a required&gt;</pre>"},
      {"quoted_text_over_two_lines", "\n<NAME=\"a\" required REQUIREDERR=\"Give\nit\">",
       kMissingClosingQuote, "Template Error",
       quote + "NAME=\"a\" required REQUIREDERR=\"Give\nit\"&gt;</pre>"},
      {"html_tag_ends_entry", "\n<NAME=\"a\" required REQUIREDERR=\"<b>x</b>\">",
       kMissingClosingQuote, "Template Error",
       quote + "NAME=\"a\" required REQUIREDERR=\"<b&gt;</pre>"},
      {"name_without_quote", "\n<NAME=a>", kBadNameLine, "Template Error",
       nameLine + "NAME=a</pre>"},
      {"name_keyword_in_text", "\n<NAME=\"a\" REQUIREDERR=\"Fill in name=x\">", kBadNameLine,
       "Template Error", nameLine + "REQUIREDERR=\"Fill in name=x\"</pre>"},
      {"name_quote_before_keyword", "\n<\"x\"NAME=\">", kBadNameLine, "Template Error",
       nameLine + "\"x\"NAME=\"</pre>"},
      {"requirederr_without_quote", "\n<NAME=\"a\" REQUIREDERR=x>", kBadRequiredErrLine,
       "Template Error",
       "Error identifying requiredErr line.  Please check your template file\n<br><pre>"
       "REQUIREDERR=x</pre>"},
      {"typeerr_without_quote", "\n<NAME=\"a\" \"t\"TYPEERR=x>", kBadTypeErrLine, "Template Error",
       "Error identifying typeErr line.  Please check your template file\n<br><pre>"
       "\"t\"TYPEERR=x</pre>"},
      {"html_in_requirederr", "\n<NAME=\"a\" REQUIREDERR=\"a < b\">", kHtmlInErrorText,
       "Error in template file", "Error on a" + html},
      {"html_in_typeerr_before_name", "\n<TYPEERR=\"<i\" NAME=\"a\">", kHtmlInErrorText,
       "Error in template file", "Error on (null)" + html},
      {"html_in_requirederr_before_name", "\n<REQUIREDERR=\"a<b\" NAME=\"a\">", kHtmlInErrorText,
       "Error in template file", "Error on (null)" + html},
      {"html_in_typeerr_after_name", "\n<NAME=\"n\" TYPEERR=\"x\" TYPEERR=\"<\">", kHtmlInErrorText,
       "Error in template file", "Error on n" + html},
      {"html_before_the_quote", "\n<NAME=\"a\" x<REQUIREDERR=\"b\">", kHtmlInErrorText,
       "Error in template file", "Error on a" + html},
      {"sendto_then_respondto", "\n<NAME=\"a\" sendto respondto>", kSendToWithRespondTo,
       "Bad command in template file", both},
      {"respondto_then_sendto", "\n<NAME=\"a\" RESPONDTO SendTo>", kSendToWithRespondTo,
       "Bad command in template file", both},
      {"required_without_text", "\n<NAME=\"a\" required>", kRequiredWithoutText,
       "Veltrano template file error", required + "a\""},
      {"spaces_around_equals", "\n<NAME=\"a\" required REQUIREDERR = \"x\">", kRequiredWithoutText,
       "Veltrano template file error", required + "a\""},
      {"required_checked_before_type", "\n<NAME=\"a\" TYPE=\"INT\" required>", kRequiredWithoutText,
       "Veltrano template file error", required + "a\""},
      {"required_without_name_or_text", "\n<required>", kRequiredWithoutText,
       "Veltrano template file error", required + "(null)\""},
      {"type_without_text", "\n<NAME=\"a\" TYPE=\"EMAIL\">", kTypeWithoutText,
       "Veltrano template file error", type + "a\""},
      {"type_without_name_or_text", "\n<TYPE=\"INT\">", kTypeWithoutText,
       "Veltrano template file error", type + "(null)\""},
      {"maxlen_without_text", "\n<NAME=\"a\" MAXLEN=\"5\">", kMaxLenWithoutText,
       "Veltrano template file error", maxLen + "a\""},
      {"maxlen_checked_after_type", "\n<MAXLEN=\"5\" TYPE=\"CC\">", kTypeWithoutText,
       "Veltrano template file error", type + "(null)\""},
      {"maxlen_zero", "\n<NAME=\"a\" MAXLEN=\"0\">", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\"0\"")},
      {"maxlen_unquoted", "\n<NAME=\"a\" MAXLEN=5>", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=5")},
      {"maxlen_signed", "\n<NAME=\"a\" MAXLEN=\"+5\">", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\"+5\"")},
      {"maxlen_space", "\n<NAME=\"a\" MAXLEN=\" 5\">", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\" 5\"")},
      {"maxlen_words", "\n<NAME=\"a\" MAXLEN=\"5 chars\">", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\"5 chars\"")},
      {"maxlen_empty", "\n<NAME=\"a\" MAXLEN=\"\">", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\"\"")},
      {"maxlen_text_after_quote", "\n<NAME=\"a\" MAXLEN=\"5\"x>", kBadMaxLenLine, "Template Error",
       maxLenLine("MAXLEN=\"5\"x")},
      {"maxlen_over_range", "\n<NAME=\"a\" MAXLEN=\"18446744073709551616\">", kBadMaxLenLine,
       "Template Error", maxLenLine("MAXLEN=\"18446744073709551616\"")},
      {"maxlenerr_without_quote", "\n<NAME=\"a\" MAXLENERR=x>", kBadMaxLenErrLine, "Template Error",
       "Error identifying MAXLENERR line.  Please check your template file\n<br><pre>"
       "MAXLENERR=x</pre>"},
      {"html_in_maxlenerr", "\n<NAME=\"a\" MAXLENERR=\"a<b\">", kHtmlInErrorText,
       "Error in template file", "Error on a" + html},
      {"attach_without_text", "\n<NAME=\"a\" ATTACH=\"pdf\">", kAttachWithoutText,
       "Veltrano template file error",
       "You specified the ATTACH attribute, but no associated ATTACHERR attribute. Please check "
       "template file under &lt;NAME=\"a\""},
      {"attach_unquoted", "\n<NAME=\"a\" ATTACH=pdf>", kBadAttachLine, "Template Error",
       attachLine("ATTACH=pdf")},
      {"attach_empty", "\n<NAME=\"a\" ATTACH=\" \">", kBadAttachLine, "Template Error",
       attachLine("ATTACH=\" \"")},
      {"attach_with_dot", "\n<NAME=\"a\" ATTACH=\".pdf\">", kBadAttachLine, "Template Error",
       attachLine("ATTACH=\".pdf\"")},
      {"attach_comma_list", "\n<NAME=\"a\" ATTACH=\"pdf,png\">", kBadAttachLine, "Template Error",
       attachLine("ATTACH=\"pdf,png\"")},
      {"attacherr_without_quote", "\n<NAME=\"a\" ATTACHERR=x>", kBadAttachErrLine, "Template Error",
       "Error identifying ATTACHERR line.  Please check your template file\n<br><pre>"
       "ATTACHERR=x</pre>"},
      {"html_in_attacherr", "\n<NAME=\"a\" ATTACHERR=\"<i\">", kHtmlInErrorText,
       "Error in template file", "Error on a" + html},
      {"entry_without_name", "\n<NAME=\"a\">\n<sendto  PGP=\"k\">", kEntryWithoutName,
       "Template Error",
       "A field entry has no NAME attribute.  Please check your template file\n"
       "<br><pre>&lt;sendto  PGP=\"k\"&gt;</pre>"},
      {"no_entries", "\nonly notes\n", kNoFieldEntry, "Template Error", noEntry},
      {"empty_section", "", kNoFieldEntry, "Template Error", noEntry},
      {"only_lost_entry", "<NAME=\"a\">", kNoFieldEntry, "Template Error", noEntry},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(FailsWithPage(ParseFieldDefinitions(c.section), c.kind, c.title, c.message))
        << c.name;
  }
}

}  // namespace
}  // namespace veltrano
