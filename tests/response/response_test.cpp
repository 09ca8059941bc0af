#include "response/response.hpp"

#include <gtest/gtest.h>

#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::Crlf;
using testing::FakeSystem;

struct HeaderCase {
  const char* name;
  std::optional<std::string> server;
  bool full;
};

class PageHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PageHeaderTest, FullHeaderOnlyForMicrosoftServers) {
  FakeSystem fake;
  if (GetParam().server) fake.env.vars["SERVER_SOFTWARE"] = *GetParam().server;
  WritePageHeader(fake.system, "T");
  std::string header = GetParam().full ? "HTTP/1.0 200 OK\nContent-type: text/html\n\n\n"
                                       : "Content-type: text/html\n\n";
  EXPECT_EQ(fake.output.bytes, Crlf(header + "<HTML>\n<TITLE>T</TITLE>"));
}

INSTANTIATE_TEST_SUITE_P(Servers, PageHeaderTest,
                         ::testing::Values(HeaderCase{"iis", "Microsoft-IIS/3.0", true},
                                           HeaderCase{"upper", "MICROSOFT-IIS/4.0", true},
                                           HeaderCase{"mixed", "x mIcRoSoFt y", true},
                                           HeaderCase{"apache", "Apache/1.2.4", false},
                                           HeaderCase{"empty", "", false},
                                           HeaderCase{"unset", std::nullopt, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReportFatalTest, RaisesTitleAndMessageWithoutReturning) {
  try {
    ReportFatal("Critical error", "msg");
    FAIL() << "ReportFatal returned";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Critical error");
    EXPECT_EQ(e.message, "msg");
  }
  try {
    ReportFatal(std::nullopt, "pgp didn't run");
  } catch (const FatalError& e) {
    EXPECT_FALSE(e.title.has_value());
  }
}

struct FatalPageCase {
  const char* name;
  std::optional<std::string> title;
  std::string message;
  std::string want;  // bytes after the plain header
};

class FatalPageTest : public ::testing::TestWithParam<FatalPageCase> {};

TEST_P(FatalPageTest, WritesHeaderTitleAndMessageByteForByte) {
  FakeSystem fake;
  const FatalPageCase& c = GetParam();
  WriteFatalPage(fake.system, FatalError{c.title, c.message});
  EXPECT_EQ(fake.output.bytes, "Content-type: text/html\r\n\r\n<HTML>\r\n" + c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, FatalPageTest,
    ::testing::Values(
        FatalPageCase{"titled", "Critical error", "boom", "<TITLE>Critical error</TITLE>boom"},
        FatalPageCase{"untitled", std::nullopt, "pgp didn't run", "pgp didn't run"},
        FatalPageCase{"percent", "100%s", "50% %d %s %", "<TITLE>100%s</TITLE>50% %d %s %"},
        FatalPageCase{"cr_lf", std::nullopt, "a\r\nb", "a\r\r\nb"},
        FatalPageCase{"nul", std::nullopt, std::string("a\0b", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WritePageTest, WritesTextAloneWithNoHeader) {
  FakeSystem fake;
  WritePage(fake.output, "Content-type: text/plain\n\n100%");
  EXPECT_EQ(fake.output.bytes, "Content-type: text/plain\r\n\r\n100%");
}

}  // namespace
}  // namespace veltrano
