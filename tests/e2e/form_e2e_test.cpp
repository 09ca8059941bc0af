// A form submitted to the built program: the success page, the error page
// and the failures of the submission itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "support/cgi_runner.hpp"

namespace veltrano::testing {
namespace {

const std::string kTemplate =
    "Contact form, no mail.\n"
    "<ERRMSGFILE>err.htm</ERRMSGFILE>\n"
    "<SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>\n"
    "<FORMDATA>\n"
    "<NAME=\"name\" required REQUIREDERR=\"Please give your name\">\n"
    "<NAME=\"age\" TYPE=\"INT\" TYPEERR=\"Age must be a number\" MAXLEN=\"3\" "
    "MAXLENERR=\"Age too long\">\n"
    "</FORMDATA>\n";

void WriteSite(const Site& site) {
  site.Write("contact.tpl", kTemplate);
  site.Write("err.htm", "Content-type: text/html\r\n\r\n<ul>$err$</ul>\r\n");
  site.Write("ok.htm", "Content-type: text/html\r\n\r\n<p>Thanks $name$, age $age$</p>\r\n");
}

const std::string kPage = "Content-type: text/html\r\n\r\n";

struct FormCase {
  const char* name;
  std::string body;
  std::map<std::string, std::string> env;  // added to or replacing the POST variables
  std::vector<std::string> unset;
  std::string want;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const FormCase& c, std::ostream* os) {
  *os << c.name;
}

class FormE2eTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(FormE2eTest, Response) {
  const FormCase& c = GetParam();
  Site site;
  WriteSite(site);
  CgiRequest request = PostRequest("contact.tpl", c.body);
  for (const auto& [name, value] : c.env) request.env[name] = value;
  for (const std::string& name : c.unset) request.env.erase(name);
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Submissions, FormE2eTest,
    ::testing::Values(
        FormCase{"valid_gets_success_page",
                 "name=Ann+%3Cscript%3E&age=%2B42",
                 {},
                 {},
                 kPage + "<p>Thanks Ann &lt;script&gt;, age +42</p>\r\n"},
        FormCase{"failing_gets_error_page",
                 "age=4x2&name=",
                 {},
                 {},
                 kPage + "<ul><li>Please give your name<li>Age must be a number</ul>\r\n"},
        FormCase{"over_maxlen_gets_error_page",
                 "name=Ann&age=1234",
                 {},
                 {},
                 kPage + "<ul><li>Age too long</ul>\r\n"},
        FormCase{"body_with_crlf",
                 "name=A\r\nB&age=7",
                 {},
                 {},
                 kPage + "<p>Thanks A\r\nB, age 7</p>\r\n"},
        FormCase{"no_request_method_gives_console_message",
                 "name=Ann",
                 {},
                 {"REQUEST_METHOD"},
                 "Error occured while collecting some environment variables.\r\n"
                 "Chances are you are trying to run this program from the\r\n"
                 "command line prompt.  It must be run as part of a cgi call\r\n"
                 "from the web server."},
        FormCase{"get_method",
                 "name=Ann",
                 {{"REQUEST_METHOD", "GET"}},
                 {},
                 kPlain + "<TITLE>Form Submit Error</TITLE>You must submit a form with a POST "
                          "method."},
        FormCase{"length_over_limit",
                 "name=Ann",
                 {{"CONTENT_LENGTH", "1048577"}},
                 {},
                 kPlain + "<TITLE>Form Submit Error</TITLE>The form data is too large."},
        FormCase{"multipart_form",
                 "--b\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nA\r\nB\r\n"
                 "--b\r\nContent-Disposition: form-data; name=\"age\"\r\n\r\n42\r\n--b--\r\n",
                 {{"CONTENT_TYPE", "multipart/form-data; boundary=b"}},
                 {},
                 kPage + "<p>Thanks A\r\r\nB, age 42</p>\r\n"},
        FormCase{"malformed_multipart",
                 "name=Ann&age=42",
                 {{"CONTENT_TYPE", "multipart/form-data; boundary=b"}},
                 {},
                 kPlain + "<TITLE>Form Submit Error</TITLE>The form data could not be read: it is "
                          "not valid multipart/form-data."},
        FormCase{"bad_escape_in_undeclared_field",
                 "name=Ann&other=%zz",
                 {},
                 {},
                 kPlain + "<TITLE>Veltrano error</TITLE>Invalid escape sequence"}),
    [](const auto& info) { return std::string(info.param.name); });

// The client went away before the whole body came: what came is not the
// form the visitor sent.
TEST(FormE2eTest, BodyShorterThanAnnouncedIsRefused) {
  Site site;
  WriteSite(site);
  CgiRequest request = PostRequest("contact.tpl", "name=Ann");
  request.env["CONTENT_LENGTH"] = "1048576";
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.output, kPlain +
                               "<TITLE>Form Submit Error</TITLE>The form data did not "
                               "arrive whole.  Please send the form again.");
  EXPECT_NE(result.errors.find("form body shorter than CONTENT_LENGTH, not read as a form: 8 "
                               "of the 1048576 bytes of CONTENT_LENGTH arrived"),
            std::string::npos)
      << result.errors;
}

// A server may send more than the announced body; none of it is read, even
// when CR LF pairs in the body make it fewer characters than bytes.
TEST(FormE2eTest, NothingPastAnnouncedLengthIsRead) {
  Site site;
  WriteSite(site);
  CgiRequest request = PostRequest("contact.tpl", "name=A\r\nBX&age=5");
  request.env["CONTENT_LENGTH"] = "9";
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.output, kPage + "<p>Thanks A\r\nB, age </p>\r\n");
}

// A body of nothing but file parts, up to the size limit, leaves one log
// line, not one per part.
TEST(FormE2eTest, ManyFilePartsLeaveOneLogLine) {
  Site site;
  WriteSite(site);
  const std::string part = "--b\r\nContent-Disposition: form-data;name=f;filename=x\r\n\r\n\r\n";
  const std::string end = "--b--\r\n";
  std::string body = "--b\r\nContent-Disposition: form-data; name=name\r\n\r\nAnn\r\n";
  std::size_t files = 0;
  for (; body.size() + part.size() + end.size() <= 1024 * 1024; ++files) body += part;
  CgiRequest request = PostRequest("contact.tpl", body + end);
  request.env["CONTENT_TYPE"] = "multipart/form-data; boundary=b";
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.output, kPage + "<p>Thanks Ann, age </p>\r\n");
  EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
  EXPECT_NE(result.errors.find("uploaded file not mailed, its field has no ATTACH or has a file: "
                               "field f, and " +
                               std::to_string(files - 1) + " more files\n"),
            std::string::npos)
      << result.errors;
}

}  // namespace
}  // namespace veltrano::testing
