#include "validate/pages.hpp"

#include <gtest/gtest.h>

#include "expand/placeholders.hpp"
#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::Crlf;
using testing::FakeSystem;
using testing::TempDir;

const std::string kHeader = "Content-type: text/html\n\n";

FormField Missing(const std::string& name, const std::string& text) {
  FormField f;
  f.name = name;
  f.required = f.isMissing = true;
  f.requiredErr = text;
  f.typeErr = "unused";
  return f;
}

FormField Invalid(const std::string& name, const std::string& value, const std::string& text) {
  FormField f;
  f.name = name;
  f.value = value;
  f.isInvalid = true;
  f.requiredErr = "unused";
  f.typeErr = text;
  return f;
}

FormField Passed(const std::string& name, std::optional<std::string> value, bool missing = false) {
  FormField f;
  f.name = name;
  f.value = std::move(value);
  f.isMissing = missing;
  f.requiredErr = f.typeErr = "unused";
  return f;
}

struct ErrorPageCase {
  const char* name;
  std::string file;
  std::vector<FormField> fields;
  std::string want;  // LF line ends
};

class ShowErrorPageTest : public ::testing::TestWithParam<ErrorPageCase> {};

TEST_P(ShowErrorPageTest, WritesListWhereMarkerStands) {
  TempDir dir;
  dir.Write("err.htm", GetParam().file);
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.errorPageFile = dir.path() + "/err.htm";
  ctx.fields = GetParam().fields;
  EXPECT_THROW(ShowErrorPage(ctx), RequestEnded);
  EXPECT_EQ(fake.output.bytes, Crlf(GetParam().want));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ShowErrorPageTest,
    ::testing::Values(
        ErrorPageCase{"two_items_in_template_order",
                      kHeader + "<ul>$err$</ul>\n",
                      {Missing("name", "Name is required"), Passed("x", "1"),
                       Invalid("age", "x", "Age must be a number")},
                      kHeader + "<ul><li>Name is required<li>Age must be a number</ul>\n"},
        ErrorPageCase{
            "no_marker_gives_empty_response", kHeader + "<p>oops</p>", {Missing("a", "A")}, ""},
        ErrorPageCase{"empty_file", "", {Missing("a", "A")}, ""},
        ErrorPageCase{"no_marker_no_size_limit",
                      std::string(kMaxExpandedLength + 1, 'a'),
                      {Missing("a", "A")},
                      ""},
        ErrorPageCase{"text_after_marker_expanded",
                      "$err$ at $systemtime$",
                      {Missing("a", "A")},
                      "<li>A at 14:05:09"},
        ErrorPageCase{"marker_any_case", "[$ERR$][$Err$]", {Missing("a", "A")}, "[<li>A][]"},
        ErrorPageCase{"optional_missing_not_listed",
                      "$err$",
                      {Passed("a", std::nullopt, true), Missing("b", "B")},
                      "<li>B"},
        ErrorPageCase{"error_text_placeholders_expanded",
                      "<ol>$err$</ol>",
                      {Invalid("age", "<b>x</b>", "Age $age$ is not a number")},
                      "<ol><li>Age &lt;b&gt;x&lt;/b&gt; is not a number</ol>"},
        ErrorPageCase{"script_in_value_harmless",
                      "$err$<p>$comment$</p>",
                      {Passed("comment", "<script>alert(1)</script>"), Missing("n", "<b>N</b>")},
                      "<li><b>N</b><p>&lt;script&gt;alert(1)&lt;/script&gt;</p>"},
        ErrorPageCase{"percent_as_itself",
                      "100%s $err$ %d $v$",
                      {Invalid("v", "50%", "Bad %n")},
                      "100%s <li>Bad %n %d 50%"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SizeCase {
  const char* name;
  std::size_t fileLength;  // file text around the marker
  std::size_t itemLength;  // error text of one item
  bool fits;
};

class ErrorPageSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ErrorPageSizeTest, BoundsPageBeforeExpansion) {
  const SizeCase& c = GetParam();
  TempDir dir;
  dir.Write("err.htm", std::string(c.fileLength / 2, 'a') + "$ERR$" +
                           std::string(c.fileLength - c.fileLength / 2, 'b'));
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.errorPageFile = dir.path() + "/err.htm";
  ctx.fields = {Missing("a", std::string(c.itemLength, 'e'))};
  try {
    ShowErrorPage(ctx);
  } catch (const RequestEnded&) {
    EXPECT_TRUE(c.fits);
    EXPECT_EQ(fake.output.bytes.size(), kMaxExpandedLength);
  } catch (const FatalError& e) {
    EXPECT_FALSE(c.fits);
    EXPECT_EQ(e.title, "Mail send error");
    EXPECT_EQ(e.message, "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down");
    EXPECT_EQ(fake.output.bytes, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ErrorPageSizeTest,
    ::testing::Values(SizeCase{"file_at_limit", kMaxExpandedLength - 5, 1, true},
                      SizeCase{"file_over", kMaxExpandedLength - 4, 1, false},
                      SizeCase{"item_at_limit", 100, kMaxExpandedLength - 104, true},
                      SizeCase{"item_over", 100, kMaxExpandedLength - 103, false},
                      SizeCase{"text_alone_over", kMaxExpandedLength + 1, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShowErrorPageTest, ExpandedPageHasItsOwnLimit) {
  TempDir dir;
  dir.Write("err.htm", "$err$" + std::string(kMaxExpandedLength - 10, 'a') + "$v$");
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.errorPageFile = dir.path() + "/err.htm";
  ctx.fields = {Invalid("v", "<<<", "x")};  // 12 characters once escaped
  try {
    ShowErrorPage(ctx);
    ADD_FAILURE() << "no fatal page";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Mail send error");
    EXPECT_NE(e.message.find("over 15k"), std::string::npos);
  }
}

TEST(PagesTest, MissingFilesGiveLoadFailure) {
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.errorPageFile = "/nonexistent/err.htm";
  ctx.successPageFile = "/nonexistent/ok.htm";
  try {
    ShowErrorPage(ctx);
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Load Failure");
    EXPECT_EQ(e.message, "Failed to load or locate the file specified in &lt;errTemplateFile&gt;");
  }
  try {
    ShowSuccessPage(ctx);
    ADD_FAILURE() << "no fatal page";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Load Failure");
    EXPECT_EQ(e.message, "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;");
  }
  EXPECT_EQ(fake.output.bytes, "");
}

struct SuccessCase {
  const char* name;
  std::string file;
  std::string want;  // LF line ends
};

class ShowSuccessPageTest : public ::testing::TestWithParam<SuccessCase> {};

TEST_P(ShowSuccessPageTest, WritesExpandedFileOnly) {
  TempDir dir;
  dir.Write("ok.htm", GetParam().file);
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.successPageFile = dir.path() + "/ok.htm";
  ctx.fields = {Passed("name", "Ann <script>"), Passed("pct", "50%")};
  ShowSuccessPage(ctx);
  EXPECT_EQ(fake.output.bytes, Crlf(GetParam().want));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ShowSuccessPageTest,
    ::testing::Values(SuccessCase{"header_kept", kHeader + "<p>Thanks $name$</p>",
                                  kHeader + "<p>Thanks Ann &lt;script&gt;</p>"},
                      SuccessCase{"crlf_file_written_with_crlf",
                                  "Content-type: text/html\r\n\r\nok\r\n", kHeader + "ok\n"},
                      SuccessCase{"no_header", "<p>ok</p>", "<p>ok</p>"},
                      SuccessCase{"empty", "", ""},
                      SuccessCase{"percent_as_itself", "100% of $pct$ %s", "100% of 50% %s"},
                      SuccessCase{"leading_placeholder_space", "$systemdate$\n", " 03/07/98\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano
