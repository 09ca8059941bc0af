// The EXECUTE command and the data file as a whole request uses them.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/request.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::TempDir;

// Posts name=`name` to the template `outputs` (sections added to a minimal
// template) in a site of its own; returns the response.
struct SiteRequest {
  TempDir site;
  testing::FakeSystem fake;

  std::string Post(const std::string& outputs, const std::string& name) {
    site.Write("t.tpl",
               "<ERRMSGFILE>err.html</ERRMSGFILE>\n<SUCCEEDMSGFILE>ok.html</SUCCEEDMSGFILE>\n" +
                   outputs + "\n<FORMDATA>\n<NAME=\"name\">\n</FORMDATA>\n");
    site.Write("ok.html", "Content-type: text/html\n\nthanks");
    site.Write("err.html", "Content-type: text/html\n\n$err$");
    const std::string body = "name=" + name;
    fake.env.vars = {{"QUERY_STRING", "t.tpl"},
                     {"REQUEST_METHOD", "POST"},
                     {"CONTENT_LENGTH", std::to_string(body.size())},
                     {"CONTENT_TYPE", "application/x-www-form-urlencoded"}};
    fake.input.bytes = body;
    // The run makes the site its current directory.
    const std::filesystem::path cwd = std::filesystem::current_path();
    RunProgram(site.path() + "/veltrano2.exe", fake.system);
    std::filesystem::current_path(cwd);
    return fake.output.bytes;
  }
};

const std::string kThanks = "Content-type: text/html\r\n\r\nthanks";

// The command line is trimmed before its placeholders are expanded; a
// failing command leaves a log line and the success page follows.
TEST(RequestOutputsTest, CommandRunsInTheSiteAndFailureGoesOn) {
  SiteRequest r;
  EXPECT_EQ(r.Post("<EXECUTE> \n\tprintf '[%s]' $name$ >out; exit 1 \n</EXECUTE>", "a+%3B+b"),
            kThanks);
  EXPECT_EQ(r.site.Read("out"), "[a ; b]");
  EXPECT_EQ(r.fake.log.lines, std::vector<std::string>{testing::LogStart("-", "t.tpl") +
                                                       "EXECUTE command failed: exit status 1"});
}

// The data file's name goes through the alias file; the record is the
// expanded format, trimmed.
TEST(RequestOutputsTest, DataFileNameTakesAliases) {
  TempDir records;
  SiteRequest r;
  r.site.Write("veltrano.cfg", "logs=" + records.path() + "\n");
  EXPECT_EQ(
      r.Post("<DFILE APPEND>LOGS/data.csv</DFILE><DFILEFORMAT>$name$;\"$name$\"</DFILEFORMAT>",
             "a%2C%22b%22+%3Cc%3E+100%25+%27d%27"),
      kThanks);
  EXPECT_EQ(records.Read("data.csv"), "a,\"b\" <c> 100% 'd';\"a,\"\"b\"\" <c> 100% 'd'\"\r\n");
  EXPECT_FALSE(r.site.Exists("LOGS"));
}

// Without a format the request ends with its page, after the command ran.
TEST(RequestOutputsTest, DataFileWithoutFormatEndsTheRequest) {
  SiteRequest r;
  std::string page = r.Post("<EXECUTE>echo ran >out</EXECUTE><DFILE TRUNCATE>data</DFILE>", "x");
  EXPECT_NE(page.find("<TITLE>Error writing to file</TITLE>A &lt;dfileformat&gt; was not "
                      "specified."),
            std::string::npos)
      << page;
  EXPECT_EQ(r.site.Read("out"), "ran\n");
  EXPECT_FALSE(r.site.Exists("data"));
}

}  // namespace
}  // namespace veltrano
