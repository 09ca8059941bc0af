#include <gtest/gtest.h>

#include "driver/request.hpp"
#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;
using testing::TempDir;

// The completion phase without a mail server: the command runs before the
// data file is written, and both have done their work before the
// SUCCEEDMSGFILE section is looked for and before the debug page.
struct CompletionCase {
  const char* name;
  bool successSection;
  bool debug;
  bool format;
  std::optional<std::string> wantTitle;  // none: the success page
  std::string wantData;
};

class CompleteRequestTest : public ::testing::TestWithParam<CompletionCase> {};

TEST_P(CompleteRequestTest, OutputsComeFirstInOrder) {
  const CompletionCase& c = GetParam();
  TempDir dir;
  dir.Write("ok.htm", "Content-type: text/html\n\nThanks");
  FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.templateText = "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>\n";
  if (c.successSection) {
    ctx.templateText += "<SUCCEEDMSGFILE>" + dir.path() + "/ok.htm</SUCCEEDMSGFILE>\n";
  }
  ctx.debugMode = c.debug;
  ctx.executeCommand =
      "cd '" + dir.path() + "' && { [ -e data ] && echo after || echo before; } > order";
  ctx.appendDataFile = dir.path() + "/data";
  if (c.format) ctx.dataFileFormat = "record";

  std::optional<std::string> title;
  std::string message;
  try {
    CompleteRequest(ctx);
  } catch (const FatalError& e) {
    title = e.title.value_or("(none)");
    message = e.message;
  }
  EXPECT_EQ(title, c.wantTitle);
  EXPECT_EQ(dir.Read("order"), "before\n") << "the command runs before the data file";
  EXPECT_EQ(dir.Exists("data") ? dir.Read("data") : "(none)", c.wantData);
  if (c.wantTitle == "rfc821 mail transaction process") {
    EXPECT_EQ(message, "") << "no server was named, so nothing was said";
  }
  EXPECT_EQ(fake.output.bytes, c.wantTitle ? "" : "Content-type: text/html\r\n\r\nThanks");
}

INSTANTIATE_TEST_SUITE_P(
    Ends, CompleteRequestTest,
    ::testing::Values(CompletionCase{"success_page", true, false, true, std::nullopt, "record\r\n"},
                      CompletionCase{"tag_missing_after_outputs", false, false, true, "Tag missing",
                                     "record\r\n"},
                      CompletionCase{"debug_page_after_outputs", true, true, true,
                                     "rfc821 mail transaction process", "record\r\n"},
                      CompletionCase{"missing_format_after_command", true, false, false,
                                     "Error writing to file", "(none)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace veltrano
