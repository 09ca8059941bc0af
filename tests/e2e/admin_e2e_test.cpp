// What the administrator sees of a run: the log line on standard error, and
// nothing left behind when the web server ends a run early.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <regex>
#include <thread>

#include "support/cgi_runner.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano::testing {
namespace {

namespace fs = std::filesystem;

// The line starts with the local time (ISO 8601 with the zone's offset),
// the visitor's address, the template and the process id.
TEST(AdminE2eTest, FailureLeavesOneLogLine) {
  Site site;
  CgiRequest request = PostRequest("nosuch.tpl&debug", "a=1");
  request.env["REMOTE_ADDR"] = "192.0.2.1";
  request.env["TZ"] = "XST3:30";  // 3 h 30 min west of UTC, no zone file needed
  CgiResult result = RunCgi(site, request);
  EXPECT_EQ(result.output.rfind(kPlain500 + "<TITLE>Error loading template file</TITLE>", 0), 0u);
  const std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d-03:30 192\.0\.2\.1 nosuch\.tpl )" +
                        std::to_string(result.pid) +
                        " veltrano2\\.exe: cannot read the template: nosuch\\.tpl: No such file or "
                        "directory\n");
  EXPECT_TRUE(std::regex_match(result.errors, line)) << result.errors;
}

struct Encrypted {
  const char* name;
  std::string body;
  std::string contentType;
  std::string plain;  // in the file pgp is given
};

void PrintTo(const Encrypted& c, std::ostream* os) {
  *os << c.name;
}

class TerminationTest : public ::testing::TestWithParam<Encrypted> {};

// A pgp that hangs, then the web server's SIGTERM: the plain text of the
// mail, and a file that goes with it, in a private directory of the
// request's own, must not stay in the temporary directory, nor pgp keep
// running.
TEST_P(TerminationTest, RemovesThePlainText) {
  const Encrypted& c = GetParam();
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Site site;
  TempDir tmp;
  site.Write("bin/pgp.exe", "#!/bin/sh\necho $$ > \"$TMP/../pgp.pid\"\nexec sleep 30\n");
  fs::permissions(site.path() + "/bin/pgp.exe", fs::perms::owner_all);
  site.Write("t.tpl", "<SMTPSERVER>" + server.address() +
                          "</SMTPSERVER><SENDER>s@example.org</SENDER><SUBJECT>s</SUBJECT>"
                          "<MSGBODY>secret $a$</MSGBODY><ERRMSGFILE>e</ERRMSGFILE>"
                          "<SUCCEEDMSGFILE>ok</SUCCEEDMSGFILE><FORMDATA>\n"
                          "<NAME=\"to\" sendto PGP=\"key\">\n<NAME=\"a\">\n"
                          "<NAME=\"f\" ATTACH=\"txt\" ATTACHERR=\"x\">\n</FORMDATA>\n");
  site.Write("e", "Content-type: text/html\n\n$err$");
  site.Write("ok", "Content-type: text/html\n\nok");
  tmp.Write("t/.keep", "");
  const std::string& body = c.body;
  std::vector<std::string> env = {"PATH=" + site.path() + "/bin:/usr/bin:/bin",
                                  "TMP=" + tmp.path() + "/t",
                                  "QUERY_STRING=t.tpl",
                                  "REQUEST_METHOD=POST",
                                  "CONTENT_TYPE=" + c.contentType,
                                  "CONTENT_LENGTH=" + std::to_string(body.size())};
  tmp.Write("body", body);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = site.programPath();
    char* argv[] = {program.data(), nullptr};
    ::freopen((tmp.path() + "/body").c_str(), "r", stdin);
    ::freopen("/dev/null", "w", stdout);
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  for (int i = 0; i < 500 && !tmp.Exists("pgp.pid"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(tmp.Exists("pgp.pid"));
  std::vector<fs::path> made;
  for (const auto& e : fs::directory_iterator(tmp.path() + "/t")) {
    if (e.path().filename() != ".keep") made.push_back(e.path());
  }
  ASSERT_EQ(made.size(), 1u);
  ASSERT_TRUE(fs::is_regular_file(made[0] / "kov1")) << "pgp runs on the plain text";
  std::ifstream kov(made[0] / "kov1", std::ios::binary);
  const std::string plain((std::istreambuf_iterator<char>(kov)), std::istreambuf_iterator<char>());
  EXPECT_NE(plain.find(c.plain), std::string::npos) << plain;

  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  for (const auto& e : fs::directory_iterator(tmp.path() + "/t")) {
    EXPECT_EQ(e.path().filename(), ".keep") << "left behind";
  }
  pid_t pgp = std::stoi(tmp.Read("pgp.pid"));
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = ::kill(pgp, 0) != 0 || !fs::exists("/proc/" + std::to_string(pgp) + "/cmdline") ||
           fs::file_size("/proc/" + std::to_string(pgp) + "/cmdline") == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "pgp " << pgp << " still runs";
}

INSTANTIATE_TEST_SUITE_P(
    Mails, TerminationTest,
    ::testing::Values(Encrypted{"text", "to=x%40example.org&a=1",
                                "application/x-www-form-urlencoded", "secret 1"},
                      // "file contents" in base64, in the PGP/MIME entity.
                      Encrypted{
                          "with_file",
                          "--b\r\nContent-Disposition: form-data; name=to\r\n\r\nx@example.org\r\n"
                          "--b\r\nContent-Disposition: form-data; name=f; filename=n.txt\r\n\r\n"
                          "file contents\r\n--b--\r\n",
                          "multipart/form-data; boundary=b", "ZmlsZSBjb250ZW50cw=="}));

}  // namespace
}  // namespace veltrano::testing
