#include "outputs/external_program.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "expand/shell_references.hpp"
#include "platform/text_mode.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::TempDir;

class RecordedNotices final : public Notices {
 public:
  void Note(NoticeKind kind, std::string detail) override {
    EXPECT_EQ(kind, NoticeKind::kCommandFailed);
    details.push_back(std::move(detail));
  }
  std::vector<std::string> details;
};

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
  FileOutput output(dir.path() + "/response");
  RecordedNotices notices;
  output.Write("Content-type: text/html\n\n");
  EXPECT_TRUE(
      RunExternalProgram("cd '" + dir.path() + "' && echo command >> response", {}, output, notices)
          .ok());
  EXPECT_EQ(dir.Read("response"), "Content-type: text/html\r\n\r\ncommand\n");
  EXPECT_TRUE(notices.details.empty());
}

// However the command ends, the request goes on; any end but exit status 0
// leaves a line for the administrator. A command that outlives its time is
// stopped quickly, even one that ignores SIGTERM.
TEST(RunExternalProgramTest, FailedCommandsAreNotedAndTheRequestGoesOn) {
  const platform::ChildLimits limits{std::chrono::milliseconds(200),
                                     std::chrono::milliseconds(100)};
  const struct {
    const char* command;
    std::string notice;  // the start of the log line; empty: none
  } cases[] = {
      {"exit 0", ""},
      {"", ""},
      {"exit 3", "exit status 3"},
      {"no-such-command-here 2>/dev/null", "exit status 127"},
      {"kill -KILL $$", "killed by signal 9"},
      {"sleep 30", "stopped after"},
      {"trap '' TERM; sleep 30", "stopped after"},
  };
  for (const auto& c : cases) {
    testing::CapturedOutput output;
    RecordedNotices notices;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(RunExternalProgram(c.command, {}, output, notices, limits).ok()) << c.command;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.command;
    EXPECT_EQ(output.flushes, 1) << c.command;
    if (c.notice.empty()) {
      EXPECT_TRUE(notices.details.empty()) << c.command;
    } else {
      ASSERT_EQ(notices.details.size(), 1u) << c.command;
      EXPECT_EQ(notices.details[0].rfind(c.notice, 0), 0u) << notices.details[0];
    }
  }
}

// A variable of the program's own environment with a value's name is left
// out of the command's environment, not merely followed by the value (a
// shell may take either of two entries of one name).
TEST(RunExternalProgramTest, ValuesReplaceTheProgramsVariables) {
  TempDir dir;
  ::setenv("VELTRANO_VALUE_1", "stale; touch pwned", 1);
  ShellReferences refs;
  std::string command;
  refs.Literal("cd '" + dir.path() + "' && printf '[%s]' ", command);
  refs.Replacement("fresh value", command);
  refs.Literal(" >out && tr '\\0' '\\n' </proc/$$/environ | grep ^VELTRANO_VALUE_ >env", command);
  testing::CapturedOutput output;
  RecordedNotices notices;
  EXPECT_TRUE(RunExternalProgram(command, refs.environment(), output, notices).ok());
  ::unsetenv("VELTRANO_VALUE_1");
  EXPECT_EQ(dir.Read("out"), "[fresh value]");
  EXPECT_EQ(dir.Read("env"), "VELTRANO_VALUE_1=fresh value\n");
}

}  // namespace
}  // namespace veltrano
