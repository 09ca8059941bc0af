#include "outputs/data_file.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "expand/escapers.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::TempDir;

class RecordedNotices final : public Notices {
 public:
  void Note(NoticeKind kind, std::string detail) override {
    EXPECT_EQ(kind, NoticeKind::kDataFileNotWritten);
    details.push_back(std::move(detail));
  }
  std::vector<std::string> details;
};

// Writes one record the way a request does; returns the notices.
std::vector<std::string> Write(const std::string& path, const std::string& record,
                               DataFileMode mode = DataFileMode::kAppend) {
  RecordedNotices notices;
  WriteDataFile(path, mode, record, notices);
  return notices.details;
}

TEST(WriteDataFileTest, RecordsAreTrimmedAndEndWithOneCrLf) {
  struct {
    const char* name;
    std::string record;
    std::string want;
  } cases[] = {
      {"plain", "a,b,c", "a,b,c\r\n"},
      {"trimmed", " \t\r\n a,\"b\",100% \n\n", "a,\"b\",100%\r\n"},
      {"inner_line_ends", "\nline 1\nline 2\n", "line 1\r\nline 2\r\n"},
      {"empty", "  \n ", "\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    EXPECT_TRUE(Write(dir.path() + "/data", c.record).empty()) << c.name;
    EXPECT_EQ(dir.Read("data"), c.want) << c.name;
  }
}

TEST(WriteDataFileTest, AppendKeepsOrderAndTruncateKeepsLast) {
  TempDir dir;
  const std::string path = dir.path() + "/data";
  Write(path, "first");
  Write(path, "second");
  EXPECT_EQ(dir.Read("data"), "first\r\nsecond\r\n");
  Write(path, "third", DataFileMode::kTruncate);
  Write(path, "fourth", DataFileMode::kTruncate);
  EXPECT_EQ(dir.Read("data"), "fourth\r\n");
}

// The request goes on; the administrator's log names the file and why.
TEST(WriteDataFileTest, UnwritableFileIsNotedAndSkipped) {
  TempDir dir;
  for (DataFileMode mode : {DataFileMode::kAppend, DataFileMode::kTruncate}) {
    for (const std::string& path : {dir.path() + "/missing/data", dir.path()}) {
      std::vector<std::string> notices = Write(path, "x", mode);
      ASSERT_EQ(notices.size(), 1u) << path;
      EXPECT_EQ(notices[0].rfind(path + ": ", 0), 0u) << notices[0];
    }
  }
  EXPECT_FALSE(dir.Exists("missing"));
}

// Submissions expanded for the data file and read back by Python's csv
// module: each one record, its quoted fields whole, whatever the values hold.
TEST(WriteDataFileTest, CsvReaderSeesOneRecordPerSubmission) {
  const struct {
    std::string format, name, email;
  } submissions[] = {
      {"\"$name$\",\"$email$\"", "Ann \"the\" Smith, Jr", "ann@example.com"},
      {"\"$name$\",\"$email$\"", "Bob\r\nSmith", "say \"\"hi\"\r\n"},
      {"$name$,$email$", "alice\nmallory,FORGED,1", "a@x"},
  };
  TempDir dir;
  const std::string path = dir.path() + "/data.csv";
  testing::MapEnvironment env;
  testing::FixedClock clock;
  std::vector<FieldDefinition> fields(2);
  fields[0].name = "name";
  fields[1].name = "email";
  for (const auto& s : submissions) {
    FieldValues values{s.name, s.email};
    DataRecord escaper;
    Result<std::string> record =
        ExpandPlaceholders(s.format, PlaceholderValues(fields, values, env, clock), escaper);
    ASSERT_TRUE(record.ok());
    EXPECT_TRUE(Write(path, *record).empty());
  }
  const std::string reader =
      "/usr/bin/python3 -c 'import csv, sys; print(list(csv.reader(open(sys.argv[1], "
      "newline=\"\"))))' " +
      path;
  std::FILE* pipe = ::popen(reader.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string rows;
  for (int c; (c = std::fgetc(pipe)) != EOF;) rows += static_cast<char>(c);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(rows,
            "[['Ann \"the\" Smith, Jr', 'ann@example.com'], ['Bob Smith', 'say \"\"hi\" '], "
            "['alice mallory', 'FORGED', '1', 'a@x']]\n");
}

// With DFILEGUARD, a value a spreadsheet would run as a formula gets a
// leading "'", whatever its first character; other values stay as they are.
TEST(DataRecordTest, GuardDefusesEveryFormulaLead) {
  const struct {
    std::string value;
    std::string want;  // inside the quoted field
  } cases[] = {
      // A CR, like any line end in a value, becomes a space after the guard.
      {"=1+2", "'=1+2"}, {"+1", "'+1"},    {"-1", "'-1"},  {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\t=1"}, {"\r=1", "' =1"}, {"1=1", "1=1"}, {"a-b", "a-b"},
      {" =1", " =1"},    {"'=1", "'=1"},   {"", ""},
  };
  testing::MapEnvironment env;
  testing::FixedClock clock;
  std::vector<FieldDefinition> fields(1);
  fields[0].name = "v";
  for (const auto& c : cases) {
    FieldValues values{c.value};
    DataRecord escaper(/*spreadsheetGuard=*/true);
    Result<std::string> record =
        ExpandPlaceholders("\"$v$\"", PlaceholderValues(fields, values, env, clock), escaper);
    ASSERT_TRUE(record.ok());
    EXPECT_EQ(*record, "\"" + c.want + "\"") << ::testing::PrintToString(c.value);
  }
}

// Each of many processes writes one long record at the same moment; every
// record must come out whole, on its own line.
std::set<std::string> WriteConcurrently(const TempDir& dir, DataFileMode mode, int processes) {
  const std::string path = dir.path() + "/data";
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      std::string record = "request " + std::to_string(i) + " " + std::string(6000, 'a' + i % 26);
      ::_exit(Write(path, record, mode).empty() ? 0 : 1);
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
  EXPECT_EQ(WriteConcurrently(dir, DataFileMode::kAppend, 50).size(), 50u);
}

TEST(WriteDataFileTest, ConcurrentTruncatesLeaveOneRecord) {
  TempDir dir;
  EXPECT_EQ(WriteConcurrently(dir, DataFileMode::kTruncate, 20).size(), 1u);
}

}  // namespace
}  // namespace veltrano
