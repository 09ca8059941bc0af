// The program as a web server runs it: its own directory, argv[0] as the
// server sets it, a CGI environment and a body on standard input.
#include <gtest/gtest.h>

#include <ostream>

#include "support/cgi_runner.hpp"

namespace veltrano::testing {
namespace {

struct Argv0Case {
  const char* name;
  std::string argv0;  // "{site}" stands for the site directory
  bool passes;
};

// Test names show the case name, not the bytes of the case.
void PrintTo(const Argv0Case& c, std::ostream* os) {
  *os << c.name;
}

class Argv0Test : public ::testing::TestWithParam<Argv0Case> {};

TEST_P(Argv0Test, ExecutableNameCheck) {
  Site site;
  CgiRequest request = PostRequest("", "");
  std::string argv0 = GetParam().argv0;
  if (auto at = argv0.find("{site}"); at != std::string::npos) argv0.replace(at, 6, site.path());
  request.argv0 = argv0;
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.exitStatus, 0);
  std::string title = GetParam().passes ? "Template error" : "Critical error";
  EXPECT_EQ(result.output.rfind(kPlain500 + "<TITLE>" + title + "</TITLE>", 0), 0u)
      << result.output;
}

INSTANTIATE_TEST_SUITE_P(Paths, Argv0Test,
                         ::testing::Values(Argv0Case{"full_path", "", true},
                                           Argv0Case{"bare_name", "veltrano2.exe", true},
                                           Argv0Case{"upper_case", "{site}/VELTRANO2.EXE", true},
                                           Argv0Case{"other_name", "{site}/veltrano.exe", false},
                                           Argv0Case{"no_name", "{site}/", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DriverE2eTest, HeaderFollowsServerSoftware) {
  Site site;
  CgiRequest request = PostRequest("", "");
  request.env["SERVER_SOFTWARE"] = "Microsoft-IIS/3.0";
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(
      result.output.rfind(
          "HTTP/1.0 500 Internal Server Error\r\nContent-type: text/html\r\n\r\n\r\n<HTML>\r\n", 0),
      0u);
}

TEST(DriverE2eTest, LongQueryStringIsHeldWhole) {
  Site site;
  CgiResult result = RunCgi(site, PostRequest(std::string(100000, '&'), ""));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.output.find("<TITLE>Template error</TITLE>"), std::string::npos);
}

TEST(DriverE2eTest, UnsetQueryStringCountsAsEmpty) {
  Site site;
  CgiRequest request = PostRequest("", "");
  request.env.erase("QUERY_STRING");
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.output.find("<TITLE>Template error</TITLE>"), std::string::npos);
}

// A web server that hands the body through a pipe or socket must see it all
// taken, whatever the program makes of it; otherwise it stalls or cuts the
// response off.
TEST(DriverE2eTest, BodyIsReadWholeWhateverTheOutcome) {
  struct Case {
    const char* name;
    std::string query;
    std::size_t bodySize;
    std::string title;
  };
  const Case cases[] = {
      {"misspelt_template", "nosuch.tpl", 300000, "Error loading template file"},
      {"over_the_form_limit", "t.tpl", 3 * 1024 * 1024, "Form Submit Error"},
  };
  Site site;
  site.Write("t.tpl",
             "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>e</SUCCEEDMSGFILE><FORMDATA>\n"
             "<NAME=\"a\">\n</FORMDATA>");
  site.Write("e", "Content-type: text/html\n\n$err$");
  for (const Case& c : cases) {
    CgiRequest request = PostRequest(c.query, "a=" + std::string(c.bodySize - 2, 'x'));
    request.bodyThroughPipe = true;
    CgiResult result = RunCgi(site, request);
    EXPECT_EQ(result.bodyBytesTaken, c.bodySize) << c.name;
    EXPECT_NE(result.output.find("<TITLE>" + c.title + "</TITLE>"), std::string::npos) << c.name;
  }
}

}  // namespace
}  // namespace veltrano::testing
