#include "validate/validate_fields.hpp"

#include <gtest/gtest.h>

#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;

struct TypeCase {
  const char* name;
  FieldType type;
  std::string value;
  bool passes;
};

class CheckTypeTest : public ::testing::TestWithParam<TypeCase> {};

TEST_P(CheckTypeTest, Boundaries) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  FormField field;
  field.type = GetParam().type;
  field.value = GetParam().value;
  CheckType(ctx, field);
  EXPECT_EQ(!field.isInvalid, GetParam().passes) << "value: " << GetParam().value;
  EXPECT_EQ(ctx.hasFieldErrors, !GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(Int, CheckTypeTest,
                         ::testing::Values(TypeCase{"decimal", FieldType::kInt, "-12.5", true},
                                           TypeCase{"expression", FieldType::kInt, "(1+2)*3", true},
                                           TypeCase{"fraction", FieldType::kInt, "1/2", true},
                                           TypeCase{"range_ends", FieldType::kInt, "(9", true},
                                           TypeCase{"below_range", FieldType::kInt, "'", false},
                                           TypeCase{"above_range", FieldType::kInt, ":", false},
                                           TypeCase{"inner_space", FieldType::kInt, "12 000",
                                                    false},
                                           TypeCase{"exponent", FieldType::kInt, "1e5", false},
                                           TypeCase{"high_byte", FieldType::kInt, "1\xB2", false},
                                           TypeCase{"empty", FieldType::kInt, "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Email, CheckTypeTest,
    ::testing::Values(TypeCase{"address", FieldType::kEmail, "ann@example.org", true},
                      TypeCase{"any_order", FieldType::kEmail, "a.b@c", true},
                      TypeCase{"bare_marks", FieldType::kEmail, "@.", true},
                      TypeCase{"no_dot", FieldType::kEmail, "ann@example", false},
                      TypeCase{"no_at", FieldType::kEmail, "ann.example.org", false},
                      TypeCase{"empty", FieldType::kEmail, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Card, CheckTypeTest,
    ::testing::Values(
        TypeCase{"spaced_valid", FieldType::kCreditCard, "799 273 987 13", true},
        TypeCase{"spaced_invalid", FieldType::kCreditCard, "799 273 987 10", false},
        TypeCase{"second_doubled", FieldType::kCreditCard, "18", true},
        TypeCase{"first_not_doubled", FieldType::kCreditCard, "81", false},
        TypeCase{"doubled_over_nine", FieldType::kCreditCard, "59", true},
        TypeCase{"dash_shifts_positions", FieldType::kCreditCard, "5-9", false},
        TypeCase{"letters_count_zero", FieldType::kCreditCard, "abc", true},
        TypeCase{"visa_test_number", FieldType::kCreditCard, "4111111111111111", true},
        TypeCase{"visa_off_by_one", FieldType::kCreditCard, "4111111111111112", false},
        TypeCase{"empty", FieldType::kCreditCard, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(Untyped, CheckTypeTest,
                         ::testing::Values(TypeCase{"anything", FieldType::kNone, "<&>", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ValidateCase {
  const char* name;
  bool required;
  FieldType type;
  std::string body;  // the field is called "f"
  std::optional<std::string> value;
  bool isMissing;
  bool isInvalid;
  bool error;
};

class ValidateFieldsTest : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(ValidateFieldsTest, SetsValueAndFlags) {
  const ValidateCase& c = GetParam();
  FakeSystem fake;
  fake.env.vars = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(c.body.size())}};
  fake.input.bytes = c.body;
  RequestContext ctx(fake.system);
  FormField field;
  field.name = "f";
  field.required = c.required;
  field.type = c.type;
  field.requiredErr = "req";
  field.typeErr = "type";
  field.isMissing = field.isInvalid = true;  // stale flags are reset
  ctx.fields.push_back(field);
  ctx.errorPageFile = "/nonexistent/err.htm";
  bool failed = false;
  try {
    ValidateFields(ctx);
  } catch (const FatalError& e) {  // the error page file cannot be loaded
    failed = true;
    EXPECT_EQ(e.title, "Load Failure");
  }
  const FormField& got = ctx.fields[0];
  EXPECT_EQ(got.value, c.value);
  EXPECT_EQ(got.isMissing, c.isMissing);
  EXPECT_EQ(got.isInvalid, c.isInvalid);
  EXPECT_EQ(ctx.hasFieldErrors, c.error);
  EXPECT_EQ(failed, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ValidateFieldsTest,
    ::testing::Values(
        ValidateCase{"required_given", true, FieldType::kNone, "f=x", "x", false, false, false},
        ValidateCase{"required_empty", true, FieldType::kNone, "f=", std::nullopt, true, false,
                     true},
        ValidateCase{"required_absent", true, FieldType::kNone, "g=1", std::nullopt, true, false,
                     true},
        ValidateCase{"required_spaces", true, FieldType::kNone, "f=+%20+", "", true, false, true},
        ValidateCase{"trimmed", false, FieldType::kNone, "f=%09+a+b%0D%0A", "a b", false, false,
                     false},
        ValidateCase{"name_ignores_case", false, FieldType::kNone, "F=1", "1", false, false, false},
        ValidateCase{"optional_email_empty", false, FieldType::kEmail, "f=", std::nullopt, true,
                     false, false},
        ValidateCase{"optional_email_space", false, FieldType::kEmail, "f=+", "", false, true,
                     true},
        ValidateCase{"int_tab_passes", false, FieldType::kInt, "f=%09", "", false, false, false},
        ValidateCase{"required_bad_int", true, FieldType::kInt, "f=1e5", "1e5", false, true, true},
        ValidateCase{"missing_gets_no_type_check", true, FieldType::kEmail, "", std::nullopt, true,
                     false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateFieldsTest, FieldWithoutNameFindsNoValue) {
  FakeSystem fake;
  fake.env.vars = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}};
  fake.input.bytes = "=1&";
  RequestContext ctx(fake.system);
  ctx.fields.emplace_back();
  ValidateFields(ctx);
  EXPECT_EQ(ctx.fields[0].value, std::nullopt);
  EXPECT_TRUE(ctx.fields[0].isMissing);
}

// Every field is looked up and checked, failed or not, and the error page
// lists the failures in template order, not in the order they were sent.
TEST(ValidateFieldsTest, ChecksEveryFieldAndListsFailuresInTemplateOrder) {
  testing::TempDir dir;
  dir.Write("err.htm", "<ul>$err$</ul>");
  FakeSystem fake;
  const std::string body = "age=4x2&mail=a%40b.c&card=18&name=";
  fake.env.vars = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())}};
  fake.input.bytes = body;
  RequestContext ctx(fake.system);
  ctx.errorPageFile = dir.path() + "/err.htm";
  struct {
    const char* name;
    bool required;
    FieldType type;
  } defs[] = {{"name", true, FieldType::kNone},
              {"age", false, FieldType::kInt},
              {"mail", true, FieldType::kEmail},
              {"card", false, FieldType::kCreditCard},
              {"zip", false, FieldType::kInt}};
  for (const auto& d : defs) {
    FormField f;
    f.name = d.name;
    f.required = d.required;
    f.type = d.type;
    f.requiredErr = std::string(d.name) + " required";
    f.typeErr = std::string(d.name) + " invalid";
    ctx.fields.push_back(f);
  }
  EXPECT_THROW(ValidateFields(ctx), RequestEnded);
  EXPECT_EQ(fake.output.bytes, "<ul><li>name required<li>age invalid</ul>");
  EXPECT_EQ(ctx.fields[2].value, "a@b.c");
  EXPECT_FALSE(ctx.fields[2].isInvalid);
  EXPECT_EQ(ctx.fields[3].value, "18");
  EXPECT_TRUE(ctx.fields[4].isMissing);
  EXPECT_FALSE(ctx.fields[4].isInvalid);
}

}  // namespace
}  // namespace veltrano
