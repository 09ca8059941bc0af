#include "driver/request.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;

struct DirCase {
  const char* name;
  std::string path;
  std::optional<std::string> want;
};

class WorkingDirectoryTest : public ::testing::TestWithParam<DirCase> {};

TEST_P(WorkingDirectoryTest, TakesTextBeforeNameInOriginalCase) {
  EXPECT_EQ(WorkingDirectoryOf(GetParam().path), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WorkingDirectoryTest,
    ::testing::Values(DirCase{"posix", "/srv/cgi-bin/veltrano2.exe", "/srv/cgi-bin/"},
                      DirCase{"upper_case_kept", "/Srv/CGI/VELTRANO2.EXE", "/Srv/CGI/"},
                      DirCase{"windows", "C:\\InetPub\\Scripts\\Veltrano2.exe",
                              "C:\\InetPub\\Scripts\\"},
                      DirCase{"bare", "veltrano2.exe", ""},
                      DirCase{"first_occurrence", "/a/veltrano2.exe.d/veltrano2.exe", "/a/"},
                      DirCase{"wrong_name", "/srv/cgi-bin/veltrano.exe", std::nullopt},
                      DirCase{"empty", "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct QueryCase {
  const char* name;
  std::string query;
  std::optional<std::string> templateName;
  std::optional<std::string> debugToken;
};

class SplitQueryTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(SplitQueryTest, SkipsEmptyTokensAndKeepsTwo) {
  QueryTokens t = SplitQuery(GetParam().query);
  EXPECT_EQ(t.templateName, GetParam().templateName);
  EXPECT_EQ(t.debugToken, GetParam().debugToken);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, SplitQueryTest,
    ::testing::Values(QueryCase{"plain", "contact.tpl", "contact.tpl", std::nullopt},
                      QueryCase{"debug", "contact.tpl&debug", "contact.tpl", "debug"},
                      QueryCase{"third_ignored", "contact.tpl&x&debug", "contact.tpl", "x"},
                      QueryCase{"empty_tokens", "&&contact.tpl&&debug", "contact.tpl", "debug"},
                      QueryCase{"alias", "forms/contact.tpl&DeBuG", "forms/contact.tpl", "DeBuG"},
                      QueryCase{"empty", "", std::nullopt, std::nullopt},
                      QueryCase{"only_separators", "&&&", std::nullopt, std::nullopt},
                      QueryCase{"long", std::string(5000, 'a') + "&debug", std::string(5000, 'a'),
                                "debug"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunProgramTest, WrongExecutableNameGivesCriticalErrorPage) {
  FakeSystem fake;
  EXPECT_EQ(RunProgram("/srv/cgi-bin/veltrano.exe", fake.system), 0);
  EXPECT_EQ(fake.output.bytes,
            "Content-type: text/html\r\n\r\n<HTML>\r\n<TITLE>Critical error</TITLE>"
            "A problem was encountered determining the working directory for Veltrano 2.0.  "
            "Please make sure the veltrano 2.0 executable is called 'veltrano2.exe'.  If the name "
            "is correct and problems remain, please contact the administrator of this web site.  "
            "Be sure to specify the type of web server you are running.");
  EXPECT_GE(fake.output.flushes, 1);
}

TEST(RunProgramTest, MissingTemplateNameIsReportedAfterCheck) {
  for (const char* query : {"", "&&"}) {
    FakeSystem fake;
    fake.env.vars["QUERY_STRING"] = query;
    fake.env.vars["SERVER_SOFTWARE"] = "Microsoft-IIS/3.0";
    EXPECT_EQ(RunProgram("veltrano2.exe", fake.system), 0);
    EXPECT_EQ(fake.output.bytes,
              "HTTP/1.0 200 OK\r\nContent-type: text/html\r\n\r\n\r\n<HTML>\r\n"
              "<TITLE>Template error</TITLE>A template filename was not specified in the form "
              "ACTION.  Please recheck html file");
  }
}

TEST(RunProgramTest, ChangesToTheProgramsDirectory) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  fs::path before = fs::current_path();
  FakeSystem fake;
  RunProgram(dir.path() + "/VelTrano2.Exe", fake.system);
  fs::path after = fs::current_path();
  fs::current_path(before);
  EXPECT_EQ(fs::canonical(after), fs::canonical(dir.path()));
}

// A web server may start the program by a relative path; once inside that
// directory, the alias file beside the program must still be found.
TEST(RunProgramTest, RelativeProgramPathStillFindsAliasFile) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  dir.Write("cgi/veltrano.cfg", "forms=templates\n");
  dir.Write("cgi/templates/t.tpl", "no sections here\n");
  fs::path before = fs::current_path();
  fs::current_path(dir.path());
  FakeSystem fake;
  fake.env.vars["QUERY_STRING"] = "forms/t.tpl";
  RunProgram("cgi/veltrano2.exe", fake.system);
  fs::current_path(before);
  EXPECT_NE(fake.output.bytes.find("<TITLE>Tag missing</TITLE>&lt;ERRMSGFILE&gt; is missing"),
            std::string::npos)
      << fake.output.bytes;
}

TEST(RunProgramTest, UnreachableDirectoryIsIgnored) {
  namespace fs = std::filesystem;
  fs::path before = fs::current_path();
  FakeSystem fake;
  RunProgram("/no/such/dir/veltrano2.exe", fake.system);
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_NE(fake.output.bytes.find("<TITLE>Template error</TITLE>"), std::string::npos);
}

}  // namespace
}  // namespace veltrano
