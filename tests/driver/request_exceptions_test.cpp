// The run's one catch: whatever a phase throws, the visitor gets a page with
// a 500 and the administrator one line, and out of memory is told apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>

#include "driver/request.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

// Standard input that throws when the form is read.
class ThrowingInput final : public platform::Input {
 public:
  explicit ThrowingInput(std::function<void()> raise) : raise_(std::move(raise)) {}
  std::string ReadBytes(std::size_t) override { return Raise(); }
  void DiscardUpTo(std::size_t) override {}

 private:
  std::string Raise() {
    raise_();
    return {};
  }
  std::function<void()> raise_;
};

TEST(RunProgramTest, ExceptionsGiveAPageAndALogLine) {
  const struct {
    const char* name;
    std::function<void()> raise;
    std::string message;
    std::string logLine;
  } cases[] = {
      {"out_of_memory", [] { throw std::bad_alloc(); }, "Please try again later.",
       testing::LogStart("-", "t.tpl") + "out of resources, the request could not be completed"},
      {"logic_error", [] { throw std::out_of_range("vector::_M_range_check"); },
       "Please contact the administrator of this web site.",
       testing::LogStart("-", "t.tpl") + "internal error, the request could not be completed: "
                                         "vector::_M_range_check"},
      {"no_standard_type", [] { throw 7; }, "Please contact the administrator of this web site.",
       testing::LogStart("-", "t.tpl") +
           "internal error, the request could not be completed: an exception "
           "of no standard type"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    dir.Write("t.tpl",
              "<ERRMSGFILE>e.htm</ERRMSGFILE><SUCCEEDMSGFILE>e.htm</SUCCEEDMSGFILE>\n<FORMDATA>\n"
              "<NAME=\"a\">\n</FORMDATA>\n");
    dir.Write("e.htm", "$err$");
    testing::FakeSystem fake;
    fake.env.vars = {
        {"QUERY_STRING", "t.tpl"}, {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}};
    ThrowingInput input(c.raise);
    platform::System system{fake.env, input, fake.output, fake.log, fake.clock};
    std::filesystem::path before = std::filesystem::current_path();
    EXPECT_EQ(RunProgram(dir.path() + "/veltrano2.exe", system), 0) << c.name;
    std::filesystem::current_path(before);
    EXPECT_EQ(fake.output.bytes,
              testing::kPlain500 +
                  "<TITLE>Veltrano error</TITLE>The request could not be completed.  " + c.message)
        << c.name;
    EXPECT_EQ(fake.log.lines, std::vector<std::string>{c.logLine}) << c.name;
  }
}

// The site's failure page stands in for these too: the template is read.
TEST(RunProgramTest, ExceptionsShowTheSitesFailurePage) {
  testing::TempDir dir;
  dir.Write("t.tpl",
            "<ERRMSGFILE>e.htm</ERRMSGFILE><SUCCEEDMSGFILE>e.htm</SUCCEEDMSGFILE>\n"
            "<FATALMSGFILE>f.htm</FATALMSGFILE><FORMDATA>\n<NAME=\"a\">\n</FORMDATA>\n");
  dir.Write("e.htm", "$err$");
  dir.Write("f.htm", "X: 1\n\n$errtitle$ [$a$]");
  testing::FakeSystem fake;
  fake.env.vars = {{"QUERY_STRING", "t.tpl"}, {"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3"}};
  ThrowingInput input([] { throw std::bad_alloc(); });
  platform::System system{fake.env, input, fake.output, fake.log, fake.clock};
  std::filesystem::path before = std::filesystem::current_path();
  RunProgram(dir.path() + "/veltrano2.exe", system);
  std::filesystem::current_path(before);
  EXPECT_EQ(fake.output.bytes,
            "Status: 500 Internal Server Error\r\nX: 1\r\n\r\nVeltrano error []");
}

}  // namespace
}  // namespace veltrano
