#include "outputs/data_file.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::FakeSystem;
using testing::TempDir;

struct Request {
  FakeSystem fake;
  RequestContext ctx{fake.system};
};

// Writes one record the way a request does, in append or truncate mode.
std::string WriteRecord(const std::string& path, const std::string& format, bool append) {
  Request r;
  (append ? r.ctx.appendDataFile : r.ctx.truncateDataFile) = path;
  r.ctx.dataFileFormat = format;
  WriteDataFile(r.ctx);
  return r.fake.output.bytes;
}

TEST(WriteDataFileTest, WithoutFormatEndsWithErrorPage) {
  TempDir dir;
  Request r;
  r.ctx.appendDataFile = dir.path() + "/data";
  try {
    WriteDataFile(r.ctx);
    FAIL() << "no fatal error";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Error writing to file");
    EXPECT_EQ(e.message, "A &lt;dfileformat&gt; was not specified.");
  }
  EXPECT_FALSE(dir.Exists("data"));
}

TEST(WriteDataFileTest, RecordsAreTrimmedAndEndWithOneCrLf) {
  struct {
    const char* name;
    std::string format;
    std::string want;
  } cases[] = {
      {"plain", "a,b,c", "a,b,c\r\n"},
      {"trimmed", " \t\r\n a,\"b\",100% \n\n", "a,\"b\",100%\r\n"},
      {"inner_line_ends", "\nline 1\nline 2\n", "line 1\r\nline 2\r\n"},
      {"empty", "  \n ", "\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    EXPECT_EQ(WriteRecord(dir.path() + "/data", c.format, true), "") << c.name;
    EXPECT_EQ(dir.Read("data"), c.want) << c.name;
  }
}

TEST(WriteDataFileTest, AppendKeepsOrderAndTruncateKeepsLast) {
  TempDir dir;
  const std::string path = dir.path() + "/data";
  WriteRecord(path, "first", true);
  WriteRecord(path, "second", true);
  EXPECT_EQ(dir.Read("data"), "first\r\nsecond\r\n");
  WriteRecord(path, "third", false);
  WriteRecord(path, "fourth", false);
  EXPECT_EQ(dir.Read("data"), "fourth\r\n");
}

TEST(WriteDataFileTest, UnopenableFileIsSkippedSilently) {
  TempDir dir;
  for (bool append : {true, false}) {
    EXPECT_EQ(WriteRecord(dir.path() + "/missing/data", "x", append), "");
    EXPECT_EQ(WriteRecord(dir.path(), "x", append), "");  // a directory
  }
  EXPECT_FALSE(dir.Exists("missing"));
}

// The file name goes through the alias file, as template names do, and the
// record takes submitted values as they are: no quoting, no HTML escaping.
TEST(WriteDataFileTest, AliasedNameAndRawValues) {
  TempDir site, records;
  site.Write("veltrano.cfg", "logs=" + records.path() + "\n");
  Request r;
  r.ctx.workingDirectory = site.path();
  FormField field;
  field.name = "v";
  field.value = "a,\"b\" <c> 100% 'd'";
  r.ctx.fields.push_back(field);
  r.ctx.appendDataFile = "LOGS/data.csv";
  r.ctx.dataFileFormat = "$v$;$v$";
  WriteDataFile(r.ctx);
  // The leading space a text starting with "$" gets is trimmed away.
  EXPECT_EQ(records.Read("data.csv"), "a,\"b\" <c> 100% 'd';a,\"b\" <c> 100% 'd'\r\n");
  EXPECT_FALSE(site.Exists("LOGS"));
}

// Each of many processes writes one long record at the same moment; every
// record must come out whole, on its own line.
std::set<std::string> WriteConcurrently(const TempDir& dir, bool append, int processes) {
  const std::string path = dir.path() + "/data";
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string record = "request " + std::to_string(i) + " " + std::string(6000, 'a' + i % 26);
      WriteRecord(path, record, append);
      ::_exit(0);
    }
    if (pid > 0) children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> lines;
  std::istringstream in(dir.Read("data"));
  for (std::string line; std::getline(in, line);) {
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "line without CR LF";
    line.pop_back();
    std::istringstream words(line);
    std::string word, number;
    words >> word >> number;
    int i = std::stoi(number);
    EXPECT_EQ(line, "request " + number + " " + std::string(6000, 'a' + i % 26));
    lines.insert(number);
  }
  return lines;
}

TEST(WriteDataFileTest, ConcurrentAppendsKeepEveryRecordWhole) {
  TempDir dir;
  EXPECT_EQ(WriteConcurrently(dir, true, 50).size(), 50u);
}

TEST(WriteDataFileTest, ConcurrentTruncatesLeaveOneRecord) {
  TempDir dir;
  EXPECT_EQ(WriteConcurrently(dir, false, 20).size(), 1u);
}

}  // namespace
}  // namespace veltrano
