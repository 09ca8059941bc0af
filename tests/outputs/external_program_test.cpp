#include "outputs/external_program.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;
using testing::TempDir;

// Standard output as a file: what Write buffers reaches the file on Flush,
// so a command that appends to the same file shows the order of the two.
class FileOutput final : public platform::Output {
 public:
  explicit FileOutput(std::string path) : path_(std::move(path)) {}
  void Write(std::string_view text) override { pending_ += platform::EncodeTextMode(text); }
  void Flush() override {
    std::ofstream(path_, std::ios::binary | std::ios::app) << pending_;
    pending_.clear();
  }

 private:
  std::string path_;
  std::string pending_;
};

TEST(RunExternalProgramTest, FlushesResponseBeforeCommandWritesToIt) {
  TempDir dir;
  FakeSystem fake;
  FileOutput output(dir.path() + "/response");
  platform::System system{fake.env, fake.input, output, fake.clock};
  RequestContext ctx(system);
  ctx.executeCommand = " \n\tcd '" + dir.path() + "' && echo command >> response; exit 1 \n";
  output.Write("Content-type: text/html\n\n");
  RunExternalProgram(ctx);  // a failing command is not an error
  EXPECT_EQ(dir.Read("response"), "Content-type: text/html\r\n\r\ncommand\n");
  EXPECT_EQ(ctx.executeCommand, "cd '" + dir.path() + "' && echo command >> response; exit 1");
}

// Submitted values placed unquoted, in "..." and in '...' of the EXECUTE
// text reach the command as literal arguments and never run anything.
TEST(RunExternalProgramTest, SubmittedValuesNeverRunAnything) {
  const std::string values[] = {"x; touch pwned",    "$(touch pwned)", "`touch pwned`", "'\"",
                                "'; touch pwned; '", "a\nb\\"};
  for (const std::string& value : values) {
    TempDir dir;
    FakeSystem fake;
    RequestContext ctx(fake.system);
    FormField field;
    field.name = "v";
    field.value = value;
    ctx.fields.push_back(field);
    ctx.executeCommand =
        "cd '" + dir.path() + "' && printf '[%s]\\n' $v$ \"in $v$ dq\" 'in $v$ sq' > out";
    RunExternalProgram(ctx);
    EXPECT_FALSE(dir.Exists("pwned")) << value;
    EXPECT_EQ(dir.Read("out"), "[" + value + "]\n[in " + value + " dq]\n[in " + value + " sq]\n")
        << value;
  }
}

}  // namespace
}  // namespace veltrano
