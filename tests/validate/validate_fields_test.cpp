#include "validate/validate_fields.hpp"

#include <gtest/gtest.h>

#include "response/pages.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;

TEST(PassesTypeTest, Boundaries) {
  struct Case {
    const char* name;
    FieldType type;
    std::string value;
    bool passes;
  };
  using enum FieldType;
  const Case cases[] = {
      {"int_decimal", kInt, "-12.5", true},
      {"int_expression", kInt, "(1+2)*3", true},
      {"int_fraction", kInt, "1/2", true},
      {"int_range_ends", kInt, "(9", true},
      {"int_below_range", kInt, "'", false},
      {"int_above_range", kInt, ":", false},
      {"int_inner_space", kInt, "12 000", false},
      {"int_exponent", kInt, "1e5", false},
      {"int_high_byte", kInt, "1\xB2", false},
      {"int_empty", kInt, "", true},
      {"email_address", kEmail, "ann@example.org", true},
      {"email_any_order", kEmail, "a.b@c", true},
      {"email_bare_marks", kEmail, "@.", true},
      {"email_no_dot", kEmail, "ann@example", false},
      {"email_no_at", kEmail, "ann.example.org", false},
      {"email_empty", kEmail, "", false},
      {"card_spaced_valid", kCreditCard, "799 273 987 13", true},
      {"card_spaced_invalid", kCreditCard, "799 273 987 10", false},
      {"card_second_doubled", kCreditCard, "18", true},
      {"card_first_not_doubled", kCreditCard, "81", false},
      {"card_doubled_over_nine", kCreditCard, "59", true},
      {"card_dash_shifts_positions", kCreditCard, "5-9", false},
      {"card_letters_count_zero", kCreditCard, "abc", true},
      {"card_visa_test_number", kCreditCard, "4111111111111111", true},
      {"card_visa_off_by_one", kCreditCard, "4111111111111112", false},
      {"card_empty", kCreditCard, "", true},
      {"untyped_anything", kNone, "<&>", true},
  };
  for (const Case& c : cases) EXPECT_EQ(PassesType(c.type, c.value), c.passes) << c.name;
}

FieldDefinition Field(const std::string& name, bool required, FieldType type) {
  FieldDefinition f;
  f.name = name;
  f.required = required;
  f.type = type;
  return f;
}

Submission Check(const std::vector<FieldDefinition>& fields, const std::string& body) {
  Result<std::vector<FormPair>> pairs = ParseFormData(body);
  EXPECT_TRUE(pairs) << body;
  return CheckSubmission(fields, FormInput{pairs ? *pairs : std::vector<FormPair>{}});
}

TEST(CheckSubmissionTest, SetsValueAndFlags) {
  struct Case {
    const char* name;
    bool required;
    FieldType type;
    std::string body;  // the field is called "f"
    std::optional<std::string> value;
    bool isMissing;
    bool isInvalid;
    bool error;
  };
  using enum FieldType;
  const Case cases[] = {
      {"required_given", true, kNone, "f=x", "x", false, false, false},
      {"required_empty", true, kNone, "f=", std::nullopt, true, false, true},
      {"required_absent", true, kNone, "g=1", std::nullopt, true, false, true},
      {"required_spaces", true, kNone, "f=+%20+", "", true, false, true},
      {"trimmed", false, kNone, "f=%09+a+b%0D%0A", "a b", false, false, false},
      {"name_ignores_case", false, kNone, "F=1", "1", false, false, false},
      {"optional_absent", false, kNone, "", std::nullopt, true, false, false},
      {"optional_email_empty", false, kEmail, "f=", std::nullopt, true, false, false},
      {"optional_email_space", false, kEmail, "f=+", "", false, true, true},
      {"int_tab_passes", false, kInt, "f=%09", "", false, false, false},
      {"required_bad_int", true, kInt, "f=1e5", "1e5", false, true, true},
      {"missing_gets_no_type_check", true, kEmail, "", std::nullopt, true, false, true},
  };
  for (const Case& c : cases) {
    Submission s = Check({Field("f", c.required, c.type)}, c.body);
    ASSERT_EQ(s.values.size(), 1u);
    EXPECT_EQ(s.values[0], c.value) << c.name;
    EXPECT_EQ(s.checks[0].isMissing, c.isMissing) << c.name;
    EXPECT_EQ(s.checks[0].isInvalid, c.isInvalid) << c.name;
    EXPECT_EQ(s.hasFieldErrors, c.error) << c.name;
  }
}

// A value that came in is held to its MAXLEN: characters of valid UTF-8,
// bytes of anything else, after trimming.
TEST(CheckSubmissionTest, HoldsValuesToTheirLength) {
  struct Case {
    const char* name;
    std::size_t maxLength;
    FieldType type;
    std::string body;  // the field is called "f"
    bool isTooLong;
    bool isInvalid;
  };
  using enum FieldType;
  const Case cases[] = {
      {"ascii_at_limit", 5, kNone, "f=abcde", false, false},
      {"ascii_over", 5, kNone, "f=abcdef", true, false},
      {"trimmed_first", 3, kNone, "f=+abc%0D%0A", false, false},
      {"line_break_counts_two", 3, kNone, "f=a%0D%0Ab", true, false},
      {"utf8_characters_at_limit", 3, kNone, "f=%C3%A9%E2%82%AC%F0%9F%98%80", false, false},
      {"utf8_characters_over", 2, kNone, "f=%C3%A9%E2%82%AC%F0%9F%98%80", true, false},
      {"latin1_bytes_at_limit", 3, kNone, "f=%E9t%E9", false, false},
      {"latin1_bytes_over", 3, kNone, "f=%E9t%E9t", true, false},
      {"one_bad_byte_counts_all_bytes", 3, kNone, "f=%C3%A9%C3%A9%FF", true, false},
      {"empty_value_fits", 1, kNone, "f=+", false, false},
      {"type_and_length_both_fail", 3, kInt, "f=12x45", true, true},
  };
  for (const Case& c : cases) {
    FieldDefinition f = Field("f", false, c.type);
    f.maxLength = c.maxLength;
    Submission s = Check({f}, c.body);
    EXPECT_EQ(s.checks[0].isTooLong, c.isTooLong) << c.name;
    EXPECT_EQ(s.checks[0].isInvalid, c.isInvalid) << c.name;
    EXPECT_EQ(s.hasFieldErrors, c.isTooLong || c.isInvalid) << c.name;
  }
}

// NAME="" is a name, but no submitted pair can carry it.
TEST(CheckSubmissionTest, EmptyNameFindsNoValue) {
  Submission s = Check({FieldDefinition{}}, "=1&");
  EXPECT_EQ(s.values[0], std::nullopt);
  EXPECT_TRUE(s.checks[0].isMissing);
  EXPECT_FALSE(s.hasFieldErrors);
}

// An ATTACH field's value is its file's cleaned name, never a text value;
// an empty file is none; a file ATTACH refuses fails without being kept.
TEST(CheckSubmissionTest, FileFieldsTakeTheirCheckedFile) {
  const struct {
    const char* name;
    bool required;
    std::string field;  // the file's field as sent; empty: no file
    std::string file;   // its name as sent
    std::string bytes;
    std::optional<std::string> value;
    bool isMissing;
    bool isBadFile;
  } cases[] = {
      {"pdf", true, "CV", "C:\\My Files\\cv.PDF", "%PDF-1.7", "cv.PDF", false, false},
      {"png", false, "cv", "me.png", "\x89PNG\r\n\x1a\nIHDR", "me.png", false, false},
      {"executable_named_pdf", false, "cv", "cv.pdf",
       "\x7f"
       "ELF",
       "cv.pdf", false, true},
      {"unlisted_type", false, "cv", "cv.exe", "MZ", "cv.exe", false, true},
      {"no_extension", false, "cv", "cv", "%PDF-", "cv", false, true},
      {"text_value_ignored", true, "", "", "", std::nullopt, true, false},
      {"optional_without_file", false, "", "", "", std::nullopt, true, false},
      {"other_field_file_not_taken", true, "photo", "p.pdf", "%PDF-", std::nullopt, true, false},
  };
  for (const auto& c : cases) {
    FieldDefinition cv = Field("cv", c.required, FieldType::kNone);
    cv.requiredErr = "req";
    cv.attach = {"pdf", "png"};
    cv.attachErr = "bad";
    Result<std::vector<FormPair>> pairs = ParseFormData("cv=typed.pdf");
    ASSERT_TRUE(pairs);
    FormInput form{*pairs};
    auto body = std::make_shared<const std::string>(c.bytes);
    if (!c.field.empty()) form.files.push_back({c.field, c.file, {body, *body}});
    Submission s = CheckSubmission({cv}, form);
    EXPECT_EQ(s.values[0], c.value) << c.name;
    EXPECT_EQ(s.checks[0].isMissing, c.isMissing) << c.name;
    EXPECT_EQ(s.checks[0].isBadFile, c.isBadFile) << c.name;
    EXPECT_EQ(s.hasFieldErrors, c.isBadFile || (c.required && c.isMissing)) << c.name;
    const bool kept = c.value && !c.isBadFile;
    ASSERT_EQ(!s.files.empty() && s.files[0].has_value(), kept) << c.name;
    if (kept) {
      EXPECT_EQ(s.files[0]->bytes, c.bytes) << c.name;
    }
  }
}

// Every field is looked up and checked, failed or not, and the error page
// lists the failures in template order, not in the order they were sent.
TEST(CheckSubmissionTest, ChecksEveryFieldAndListsFailuresInTemplateOrder) {
  auto field = [](std::string name, bool required, FieldType type) {
    FieldDefinition f = Field("", required, type);
    f.name = name;
    f.requiredErr = name + " required";
    f.typeErr = name + " invalid";
    return f;
  };
  using enum FieldType;
  const std::vector<FieldDefinition> fields = {
      field("name", true, kNone), field("age", false, kInt), field("mail", true, kEmail),
      field("card", false, kCreditCard), field("zip", false, kInt)};
  Submission s = Check(fields, "age=4x2&mail=a%40b.c&card=18&name=");
  EXPECT_TRUE(s.hasFieldErrors);
  EXPECT_EQ(s.values[2], "a@b.c");
  EXPECT_FALSE(s.checks[2].isInvalid);
  EXPECT_EQ(s.values[3], "18");
  EXPECT_TRUE(s.checks[4].isMissing);
  EXPECT_FALSE(s.checks[4].isInvalid);

  FakeSystem fake;
  PlaceholderValues values(fields, s.values, fake.env, fake.clock);
  Result<std::string> page = ErrorPage("<ul>$err$</ul>", fields, s.checks, values);
  ASSERT_TRUE(page);
  EXPECT_EQ(*page, "<ul><li>name required<li>age invalid</ul>");
}

}  // namespace
}  // namespace veltrano
