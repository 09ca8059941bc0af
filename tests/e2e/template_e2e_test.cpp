// Templates as a web server's visitors reach them: through the query string,
// the alias file and the program's own directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>

#include "support/cgi_runner.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano::testing {
namespace {

// Everything up to FORMDATA is valid; the missing SUCCEEDMSGFILE section is
// found only at the very end, so its page shows the template went through.
const std::string kTemplate =
    "<ERRMSGFILE>error.htm</ERRMSGFILE> // the page for failed fields\r\n"
    "<FORMDATA>\r\n<NAME=\"name\">\r\n</FORMDATA>\r\n";
const std::string kReachedTheEnd =
    kPlain500 +
    "<TITLE>Tag missing</TITLE>&lt;SUCCEEDMSGFILE&gt; is missing, please recheck your "
    "template file";

struct SiteCase {
  const char* name;
  std::string query;
  std::string aliasFile;  // "{site}" stands for the site directory
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const SiteCase& c, std::ostream* os) {
  *os << c.name;
}

class TemplateSiteTest : public ::testing::TestWithParam<SiteCase> {};

TEST_P(TemplateSiteTest, FindsTemplateFromAnotherDirectory) {
  Site site;
  std::string aliases = GetParam().aliasFile;
  if (auto at = aliases.find("{site}"); at != std::string::npos) {
    aliases.replace(at, 6, site.path());
  }
  site.Write("veltrano.cfg", aliases);
  site.Write("t.tpl", kTemplate);
  site.Write("templates/t.tpl", kTemplate);
  CgiResult result = RunCgi(site, PostRequest(GetParam().query, "name=Ann"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, kReachedTheEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, TemplateSiteTest,
    ::testing::Values(SiteCase{"plain_name", "t.tpl", ""},
                      SiteCase{"absolute_alias", "forms/t.tpl", "forms={site}/templates\n"},
                      SiteCase{"relative_alias", "FORMS\\t.tpl&debug", "x\r\nforms=templates\r\n"},
                      SiteCase{"unmatched_alias", "templates/t.tpl", "forms=/nowhere\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  std::string query;
  std::string tpl;
  std::string page;  // after the header
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const ErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class TemplateErrorTest : public ::testing::TestWithParam<ErrorCase> {};

// A GET request is wrong for the form, but the template is checked first.
TEST_P(TemplateErrorTest, ReportedBeforeTheSubmission) {
  Site site;
  site.Write("t.tpl", GetParam().tpl);
  CgiRequest request = PostRequest(GetParam().query, "");
  request.env["REQUEST_METHOD"] = "GET";
  request.env.erase("CONTENT_LENGTH");
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output, kPlain500 + GetParam().page);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, TemplateErrorTest,
    ::testing::Values(
        ErrorCase{"bad_field_entry", "t.tpl",
                  "<ERRMSGFILE>e</ERRMSGFILE><FORMDATA>\n<NAME=\"a>\n</FORMDATA>",
                  "<TITLE>Template Error</TITLE>A closing quotation mark was missing from the "
                  "below line.\r\n<br><pre>&lt;NAME=\"a&gt;</pre>"},
        ErrorCase{"missing_tag", "t.tpl", "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>",
                  "<TITLE>Tag missing</TITLE>&lt;ERRMSGFILE&gt; is missing, please recheck your "
                  "template file"},
        ErrorCase{"missing_file", "none.tpl", "",
                  "<TITLE>Error loading template file</TITLE>Error occured loading the template "
                  "file.  Please contact your system administrator"},
        ErrorCase{"parent_directory", "../t.tpl", "",
                  "<TITLE>Template error</TITLE>The template filename in the form ACTION is not "
                  "allowed.  Please recheck html file"},
        ErrorCase{"absolute", "/etc/passwd", "",
                  "<TITLE>Template error</TITLE>The template filename in the form ACTION is not "
                  "allowed.  Please recheck html file"}),
    [](const auto& info) { return std::string(info.param.name); });

// The shipped example site goes through the template and the checks; its
// template turns the debug switch off, so the success page stands.
TEST(ExampleSiteTest, ContactTemplateIsAccepted) {
  ScriptedSmtpServer server;  // stands in for the local mail server
  SKIP_WITHOUT_SERVER(server);
  Site site;
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() + "/examples")) {
    std::filesystem::copy_file(entry.path(), site.path() + "/" + entry.path().filename().string());
  }
  std::string tpl = site.Read("contact.tpl");
  tpl.replace(tpl.find("127.0.0.1"), 9, server.address());
  // The example records submissions outside the site; a test writes only
  // into its own directory.
  const std::size_t dfile = tpl.find("<DFILE APPEND>") + 14;
  tpl.replace(dfile, tpl.find("</DFILE>") - dfile, site.path() + "/contact.csv");
  tpl.replace(tpl.find("/var/lib/veltrano/ratelimit"), 27, site.path() + "/ratelimit");
  site.Write("contact.tpl", tpl);
  CgiResult result =
      RunCgi(site, PostRequest("contact.tpl&debug",
                               "name=Ann+Example&email=ann%40example.org&message=Hello+there"
                               "&to=root%40localhost"));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.output.rfind("Content-type: text/html\r\n\r\n", 0), 0u) << result.output;
  EXPECT_NE(result.output.find("Thank you, Ann Example"), std::string::npos) << result.output;
  const std::string wire = server.Finish();
  EXPECT_NE(wire.find("RCPT TO:<root@localhost>"), std::string::npos) << wire;
  EXPECT_NE(wire.find("RCPT TO:<ann@example.org>"), std::string::npos) << wire;
  EXPECT_NE(wire.find("\r\nFrom: webform@localhost\r\nReply-To: ann@example.org\r\n"),
            std::string::npos)
      << wire;
  // The confirmation goes to an address nobody has verified: it quotes
  // nothing the visitor wrote.
  const std::string confirmation = wire.substr(wire.find("RCPT TO:<ann@example.org>"));
  for (const char* typed : {"Ann", "Example", "Hello"}) {
    EXPECT_EQ(confirmation.find(typed), std::string::npos) << typed << " in " << confirmation;
  }
  EXPECT_NE(site.Read("contact.csv").find(",\"Ann Example\",\"ann@example.org\"\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace veltrano::testing
