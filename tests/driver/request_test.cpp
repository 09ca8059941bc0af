#include "driver/request.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/fd.hpp"
#include "response/log.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano {
namespace {

namespace fs = std::filesystem;
using testing::FakeSystem;
using testing::kPlain500;
using testing::TempDir;

TEST(WorkingDirectoryTest, TakesTextBeforeNameInOriginalCase) {
  const struct {
    std::string path;
    std::optional<std::string> want;
  } cases[] = {{"/srv/cgi-bin/veltrano2.exe", "/srv/cgi-bin/"},
               {"/Srv/CGI/VELTRANO2.EXE", "/Srv/CGI/"},
               {"C:\\InetPub\\Scripts\\Veltrano2.exe", "C:\\InetPub\\Scripts\\"},
               {"veltrano2.exe", ""},
               {"/a/veltrano2.exe.d/veltrano2.exe", "/a/"},
               {"/srv/cgi-bin/veltrano.exe", std::nullopt},
               {"", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(WorkingDirectoryOf(c.path), c.want) << c.path;
}

// Runs the program as if it stood in `dir`, and comes back to the current
// directory afterwards.
void RunAt(const std::string& programPath, FakeSystem& fake) {
  fs::path before = fs::current_path();
  EXPECT_EQ(RunProgram(programPath, fake.system), 0);
  fs::current_path(before);
}

FakeSystem& Post(FakeSystem& fake, const std::string& query, const std::string& body) {
  fake.env.vars = {{"QUERY_STRING", query},
                   {"REQUEST_METHOD", "POST"},
                   {"CONTENT_LENGTH", std::to_string(body.size())}};
  fake.input.bytes = body;
  fake.input.consumed = 0;
  return fake;
}

TEST(RunProgramTest, WrongExecutableNameGivesCriticalErrorPage) {
  FakeSystem fake;
  fake.env.vars["QUERY_STRING"] = "forms/contact.tpl";
  RunAt("/srv/cgi-bin/veltrano.exe", fake);
  EXPECT_EQ(fake.output.bytes,
            "Status: 500 Internal Server Error\r\nContent-type: text/html\r\n\r\n<HTML>\r\n"
            "<TITLE>Critical error</TITLE>"
            "A problem was encountered determining the working directory for Veltrano 2.0.  "
            "Please make sure the veltrano 2.0 executable is called 'veltrano2.exe'.  If the name "
            "is correct and problems remain, please contact the administrator of this web site.  "
            "Be sure to specify the type of web server you are running.");
  EXPECT_GE(fake.output.flushes, 1);
  EXPECT_EQ(fake.log.lines,
            std::vector<std::string>{testing::LogStart("-", "forms/contact.tpl") +
                                     "the program's path does not hold the name "
                                     "veltrano2.exe: path /srv/cgi-bin/veltrano.exe"});
}

TEST(RunProgramTest, MissingTemplateNameIsReportedAfterCheck) {
  for (const char* query : {"", "&&"}) {
    FakeSystem fake;
    fake.env.vars["QUERY_STRING"] = query;
    fake.env.vars["SERVER_SOFTWARE"] = "Microsoft-IIS/3.0";
    RunAt("veltrano2.exe", fake);
    EXPECT_EQ(
        fake.output.bytes,
        "HTTP/1.0 500 Internal Server Error\r\nContent-type: text/html\r\n\r\n\r\n"
        "<HTML>\r\n<TITLE>Template error</TITLE>A template filename was not specified in the form "
        "ACTION.  Please recheck html file");
  }
}

TEST(RunProgramTest, ChangesToTheProgramsDirectoryOrStaysWhenItCannot) {
  TempDir dir;
  fs::path before = fs::current_path();
  FakeSystem fake;
  RunProgram(dir.path() + "/VelTrano2.Exe", fake.system);
  fs::path after = fs::current_path();
  fs::current_path(before);
  EXPECT_EQ(fs::canonical(after), fs::canonical(dir.path()));

  RunProgram("/no/such/dir/veltrano2.exe", fake.system);
  EXPECT_EQ(fs::current_path(), before);
}

// A web server may start the program by a relative path; once inside that
// directory, the alias file beside the program must still be found.
TEST(RunProgramTest, RelativeProgramPathStillFindsAliasFile) {
  TempDir dir;
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

// What is left of the announced body is read before the response goes out,
// whatever ended the run.
TEST(RunProgramTest, ReadsTheRestOfTheBody) {
  FakeSystem fake;
  Post(fake, "missing.tpl", "a=1&b=2");
  RunAt("veltrano2.exe", fake);
  EXPECT_EQ(fake.input.consumed, 7u);
}

// The completion phase without a mail server: the command runs before the
// data file is written, both before the debug page; and a page the request
// could not end with (no SUCCEEDMSGFILE, a misspelt one, no error page)
// ends it before anything is done.
TEST(RunProgramTest, OutputsComeFirstInTheirOrder) {
  const struct {
    const char* name;
    std::string successSection;
    std::string errorPage;
    bool debug;
    bool format;
    std::string wantStart;
    std::string wantOrder;  // "(none)": the command did not run
    std::string wantData;
  } cases[] = {
      {"success_page", "ok.htm", "e.htm", false, true,
       "Content-type: text/html\r\n\r\nThanks a\r\n", "before\n", "record a\r\n"},
      {"debug_page_after_outputs", "ok.htm", "e.htm", true, true,
       "Content-type: text/html\r\n\r\n<HTML>\r\n<TITLE>rfc821 mail transaction process</TITLE>",
       "before\n", "record a\r\n"},
      {"missing_format_after_command", "ok.htm", "e.htm", false, false,
       kPlain500 + "<TITLE>Error writing to file</TITLE>", "before\n", "(none)"},
      {"tag_missing_before_anything", "", "e.htm", false, true,
       kPlain500 + "<TITLE>Tag missing</TITLE>&lt;SUCCEEDMSGFILE&gt;", "(none)", "(none)"},
      {"success_page_misspelt", "okk.htm", "e.htm", true, true,
       kPlain500 + "<TITLE>Load Failure</TITLE>Failed to load or locate the file specified in "
                   "&lt;SucceedMsgFile&gt;",
       "(none)", "(none)"},
      {"error_page_missing", "ok.htm", "none.htm", false, true,
       kPlain500 + "<TITLE>Load Failure</TITLE>Failed to load or locate the file specified in "
                   "&lt;errTemplateFile&gt;",
       "(none)", "(none)"},
      {"success_page_too_long", "long.htm", "e.htm", false, true,
       kPlain500 + "<TITLE>Mail send error</TITLE>Your message body is over 15k", "(none)",
       "(none)"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write("ok.htm", "Content-type: text/html\n\nThanks $a$\n");
    dir.Write("long.htm", "Content-type: text/html\n\n" + std::string(15360, 'x'));
    dir.Write("e.htm", "Content-type: text/html\n\n$err$\n");
    std::string tpl = "<ERRMSGFILE>" + c.errorPage +
                      "</ERRMSGFILE>\n<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>\n"
                      "<EXECUTE>{ [ -e data ] && echo after || echo before; } > order</EXECUTE>\n"
                      "<DFILE APPEND>data</DFILE>\n";
    if (c.format) tpl += "<DFILEFORMAT>record $a$</DFILEFORMAT>\n";
    if (!c.successSection.empty()) {
      tpl += "<SUCCEEDMSGFILE>" + c.successSection + "</SUCCEEDMSGFILE>\n";
    }
    dir.Write("t.tpl", tpl);
    FakeSystem fake;
    Post(fake, c.debug ? "t.tpl&debug" : "t.tpl", "a=a");
    RunAt(dir.path() + "/veltrano2.exe", fake);
    EXPECT_EQ(fake.output.bytes.substr(0, c.wantStart.size()), c.wantStart) << c.name;
    EXPECT_EQ(dir.Exists("order") ? dir.Read("order") : "(none)", c.wantOrder) << c.name;
    EXPECT_EQ(dir.Exists("data") ? dir.Read("data") : "(none)", c.wantData) << c.name;
  }
}

// Each fatal page and each skipped output leaves one line for the
// administrator; the visitor's page is unchanged.
TEST(RunProgramTest, TellsTheAdministratorWhatWentWrong) {
  const struct {
    const char* name;
    std::string query;
    std::string tpl;
    std::string body;
    std::vector<std::string> want;  // "{dir}" stands for the site directory
  } cases[] = {
      {"nothing_to_say",
       "t.tpl",
       "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
       "<DFILE "
       "APPEND>data</DFILE><DFILEFORMAT>x</DFILEFORMAT><FORMDATA>\n<NAME=\"a\">\n</FORMDATA>",
       "a=1",
       {}},
      {"missing_template",
       "nosuch.tpl",
       "",
       "",
       {testing::LogStart("-", "nosuch.tpl") +
        "cannot read the template: nosuch.tpl: No such file or "
        "directory"}},
      {"missing_tag",
       "t.tpl",
       "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>",
       "",
       {testing::LogStart("-", "t.tpl") + "template tag missing: ERRMSGFILE"}},
      {"bad_escape",
       "t.tpl",
       "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE><FORMDATA>\n<NAME=\"a\">"
       "\n</FORMDATA>",
       "a=%zz",
       {testing::LogStart("-", "t.tpl") + "invalid %-escape in the form body"}},
      {"mail_without_server",
       "t.tpl",
       "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
       "<ADRFILE>list</ADRFILE><FORMDATA>\n<NAME=\"to\" sendto>\n</FORMDATA>",
       "to=x%40example.org",
       {testing::LogStart("-", "t.tpl") +
        "no mail sent, the template has no SMTPSERVER, but asks for mail "
        "with: sendto field to, ADRFILE"}},
      {"empty_recipient",
       "t.tpl",
       "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>s@example.org</SENDER><SUBJECT>s</SUBJECT>"
       "<MSGBODY>b</MSGBODY><ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
       "<FORMDATA>\n<NAME=\"to\" sendto>\n</FORMDATA>",
       "to=+",
       {testing::LogStart("-", "t.tpl") + "no mail sent to an empty recipient field: to"}},
      {"command_and_data_file",
       "t.tpl&debug",
       "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
       "<EXECUTE>exit 3</EXECUTE><DFILE APPEND>nodir/data</DFILE><DFILEFORMAT>x</DFILEFORMAT>"
       "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>",
       "a=1",
       {testing::LogStart("-", "t.tpl") + "EXECUTE command failed: exit status 3",
        testing::LogStart("-", "t.tpl") + "data file line not written: nodir/data: No such file or "
                                          "directory"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    if (!c.tpl.empty()) dir.Write("t.tpl", c.tpl);
    dir.Write("ok.htm", "Content-type: text/html\n\nok\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    FakeSystem fake;
    Post(fake, c.query, c.body);
    RunAt(dir.path() + "/veltrano2.exe", fake);
    EXPECT_EQ(fake.log.lines, c.want) << c.name;
    // The clock is read for each line, and a run without a line pays nothing.
    EXPECT_EQ(fake.clock.readings, static_cast<int>(c.want.size())) << c.name;
  }
}

// A visitor can make a run skip many outputs; the log takes the first
// kMaxNoticeLines of them and a count of the rest, and the failure that ends
// the run always has its line.
TEST(RunProgramTest, BoundsTheLinesOfOneRun) {
  const struct {
    const char* name;
    int fields;                     // empty sendto fields, each a notice
    bool fails;                     // DFILE without DFILEFORMAT ends the run after the mail
    std::vector<std::string> tail;  // the lines after the first kMaxNoticeLines
  } cases[] = {
      {"at_the_limit", 20, false, {}},
      {"over_the_limit", 30, false, {"log lines dropped after the first 20 of this request: 10"}},
      {"failure_still_logged",
       21,
       true,
       {"DFILE without DFILEFORMAT", "log lines dropped after the first 20 of this request: 1"}},
  };
  for (const auto& c : cases) {
    std::string tpl =
        "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>s@example.org</SENDER><SUBJECT>s</SUBJECT>"
        "<MSGBODY>b</MSGBODY><ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>";
    if (c.fails) tpl += "<DFILE APPEND>data</DFILE>";
    tpl += "<FORMDATA>\n";
    for (int i = 0; i < c.fields; ++i) tpl += "<NAME=\"t" + std::to_string(i) + "\" sendto>\n";
    TempDir dir;
    dir.Write("t.tpl", tpl + "</FORMDATA>");
    dir.Write("ok.htm", "Content-type: text/html\n\nok\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    FakeSystem fake;
    Post(fake, "t.tpl", "");
    RunAt(dir.path() + "/veltrano2.exe", fake);
    ASSERT_EQ(fake.log.lines.size(), kMaxNoticeLines + c.tail.size()) << c.name;
    EXPECT_EQ(fake.log.lines[kMaxNoticeLines - 1],
              testing::LogStart("-", "t.tpl") + "no mail sent to an empty recipient field: t19")
        << c.name;
    for (std::size_t i = 0; i < c.tail.size(); ++i) {
      EXPECT_EQ(fake.log.lines[kMaxNoticeLines + i], testing::LogStart("-", "t.tpl") + c.tail[i])
          << c.name;
    }
  }
}

// Each abuse control a template can turn on, seen as a visitor and by the
// administrator.
TEST(RunProgramTest, AbuseControls) {
  const std::string base =
      "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
      "<EXECUTE>echo ran >> ran</EXECUTE><DFILE APPEND>data</DFILE>"
      "<DFILEFORMAT>\"$a$\"</DFILEFORMAT>\n";
  const std::string mail =
      "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>s@example.org</SENDER><SUBJECT>s</SUBJECT>"
      "<MSGBODY>b</MSGBODY>";
  const std::string fields = "<FORMDATA>\n<NAME=\"a\">\n<NAME=\"url\" honeypot>\n";
  const std::string success = "Content-type: text/html\r\n\r\nok\r\n";
  const std::string tooMany =
      "Status: 429 Too Many Requests\r\nContent-type: text/html\r\n\r\n<HTML>\r\n<TITLE>Too "
      "many submissions</TITLE>Too many submissions from your address.  Please try again later.";
  const struct {
    const char* name;
    std::string sections;
    std::string query;
    std::string body;
    int runs;  // the same request this many times; the last one is checked
    std::string wantPage;
    std::string wantData;  // "(none)" without a data file
    std::string wantLog;   // the last log line
  } cases[] = {
      {"empty_honeypot", "", "t.tpl", "a=x&url=", 1, success, "\"x\"\r\n", ""},
      {"filled_honeypot", mail, "t.tpl", "a=x&url=http%3A%2F%2Fspam&to=v%40example.org", 1, success,
       "(none)",
       testing::LogStart("192.0.2.7", "t.tpl") +
           "honeypot filled in, submission discarded (no mail, command or "
           "record): field url, client 192.0.2.7"},
      {"recipient_refused", mail + "<RECIPIENTS>owner@example.org\n@example.net</RECIPIENTS>",
       "t.tpl", "a=x&to=Victim+%3Cv%40example.com%3E", 1,
       "Content-type: text/html\r\n\r\n<HTML>\r\n<TITLE>Mail send error</TITLE>Recipient not "
       "allowed: Victim &lt;v@example.com&gt;",
       "(none)",
       testing::LogStart("192.0.2.7", "t.tpl") +
           "sendto address not in RECIPIENTS, no mail sent: field to: Victim "
           "<v@example.com>"},
      {"debug_off", "<DEBUG>off</DEBUG>", "t.tpl&debug", "a=x", 1, success, "\"x\"\r\n", ""},
      {"spreadsheet_guard", "<DFILEGUARD>on</DFILEGUARD>", "t.tpl", "a=%3D1%2B2", 1, success,
       "\"'=1+2\"\r\n", ""},
      {"rate_limit", "<RATELIMIT>{dir}/rate 2 3600</RATELIMIT>", "t.tpl", "a=x", 3, tooMany,
       "\"x\"\r\n\"x\"\r\n",
       testing::LogStart("192.0.2.7", "t.tpl") +
           "submission refused, over the rate limit: client 192.0.2.7, 2 in "
           "3600 s"},
      {"rate_limit_unusable", "<RATELIMIT>/nonexistent/dir/rate 2 3600</RATELIMIT>", "t.tpl", "a=x",
       1, success, "\"x\"\r\n",
       testing::LogStart("192.0.2.7", "t.tpl") +
           "rate limit not applied, the state file cannot be used: "
           "/nonexistent/dir/rate: No such file or directory"},
      {"rate_limit_is_the_data_file", "<RATELIMIT>{dir}/data 2 3600</RATELIMIT>", "t.tpl", "a=x", 2,
       kPlain500 +
           "<TITLE>Template Error</TITLE>The &lt;RATELIMIT&gt; state file and the &lt;DFILE&gt; "
           "data file must be two different files.  Please check your template file",
       "(none)",
       testing::LogStart("192.0.2.7", "t.tpl") +
           "RATELIMIT and DFILE name one file: RATELIMIT {dir}/data, DFILE data"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string sections = c.sections;
    std::string wantLog = c.wantLog;
    for (std::string* text : {&sections, &wantLog}) {
      if (auto at = text->find("{dir}"); at != std::string::npos) text->replace(at, 5, dir.path());
    }
    const bool mails = sections.find("<SMTPSERVER>") != std::string::npos;
    dir.Write("t.tpl",
              base + sections + fields + (mails ? "<NAME=\"to\" sendto>\n" : "") + "</FORMDATA>");
    dir.Write("ok.htm", "Content-type: text/html\n\nok\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    FakeSystem fake;
    for (int i = 0; i < c.runs; ++i) {
      fake.output.bytes.clear();
      Post(fake, c.query, c.body);
      fake.env.vars["REMOTE_ADDR"] = "192.0.2.7";
      RunAt(dir.path() + "/veltrano2.exe", fake);
    }
    EXPECT_EQ(fake.output.bytes, c.wantPage) << c.name;
    EXPECT_EQ(dir.Exists("data") ? dir.Read("data") : "(none)", c.wantData) << c.name;
    EXPECT_EQ(dir.Exists("ran"), c.wantData != "(none)") << c.name << ": the command";
    EXPECT_EQ(fake.log.lines.empty() ? "" : fake.log.lines.back(), wantLog) << c.name;
  }
}

// One time budget for the whole request: a lock that another process
// holds, a command that hangs or a mail server that stops answering ends its
// step when the budget is spent, as the step's own time-out would, and the
// log line names the budget.
TEST(RunProgramTest, EveryWaitEndsWithTheBudget) {
  testing::ScriptedSmtpServer server({{"MAIL", {testing::Stall()}}});
  SKIP_WITHOUT_SERVER(server);
  const std::string success = "Content-type: text/html\r\n\r\nok\r\n";
  const std::string within = "within the request's time budget of 300 ms";
  const std::string prefix = testing::LogStart("-", "t.tpl");
  const struct {
    const char* name;
    std::string sections;
    const char* locked;    // a file held locked meanwhile, or none
    std::string wantPage;  // a part of it
    std::string wantLog;   // "{dir}" stands for the site directory
  } cases[] = {
      {"data_file_locked", "<DFILE APPEND>data</DFILE><DFILEFORMAT>x</DFILEFORMAT>", "data",
       success, prefix + "data file line not written: data: no lock " + within},
      {"rate_limit_locked", "<RATELIMIT>{dir}/rate 5 60</RATELIMIT>", "rate.lock", success,
       prefix + "rate limit not applied, the state file cannot be used: {dir}/rate: no lock " +
           within},
      {"command_hangs", "<EXECUTE>sleep 30</EXECUTE>", nullptr, success,
       prefix + "EXECUTE command failed: not done " + within},
      {"mail_server_stalls",
       "<SMTPSERVER>" + server.address() +
           "</SMTPSERVER><SENDER>s@example.org</SENDER><SUBJECT>s</SUBJECT><MSGBODY>b</MSGBODY>"
           "<FORMDATA>\n<NAME=\"to\" sendto>\n</FORMDATA>",
       nullptr, "<TITLE>SMTP Communication error</TITLE>",
       prefix + "SMTP conversation failed: server " + server.address() +
           ": MAIL FROM:<s@example.org>: no reply " + within},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string sections = c.sections;
    std::string wantLog = c.wantLog;
    for (std::string* text : {&sections, &wantLog}) {
      if (auto at = text->find("{dir}"); at != std::string::npos) text->replace(at, 5, dir.path());
    }
    dir.Write("t.tpl", "<ERRMSGFILE>e</ERRMSGFILE><SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>" +
                           sections + "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>\n");
    dir.Write("ok.htm", "Content-type: text/html\n\nok\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    platform::UniqueFd holder;
    if (c.locked) {
      holder.Reset(::open((dir.path() + "/" + c.locked).c_str(), O_RDWR | O_CREAT, 0600));
      ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0) << c.name;
    }
    FakeSystem fake;
    Post(fake, "t.tpl", "a=x&to=v%40example.org");
    const fs::path before = fs::current_path();
    const auto start = std::chrono::steady_clock::now();
    RunSettings settings;
    settings.budget = platform::Deadline(std::chrono::milliseconds(300));
    RunProgram(dir.path() + "/veltrano2.exe", fake.system, settings);
    const auto took = std::chrono::steady_clock::now() - start;
    fs::current_path(before);
    EXPECT_NE(fake.output.bytes.find(c.wantPage), std::string::npos) << c.name << fake.output.bytes;
    EXPECT_EQ(fake.log.lines, std::vector<std::string>{wantLog}) << c.name;
    EXPECT_GE(took, std::chrono::milliseconds(300)) << c.name;
    EXPECT_LT(took, std::chrono::seconds(3)) << c.name;
  }
}

// A file far past its kind's limit (a sparse 100 GB one here) is never
// read into memory: it fails as an unreadable one does, and the log says
// it is too large.
TEST(RunProgramTest, OversizedFilesFailAsUnreadable) {
  const std::string tooLarge = ": too large, over 1048576 bytes";
  const struct {
    const char* name;
    const char* file;  // made sparse and huge
    const char* query;
    std::vector<std::string> log;  // the message parts of the log lines
  } cases[] = {
      {"template", "t.tpl", "t.tpl", {"cannot read the template: t.tpl" + tooLarge}},
      {"alias_file",
       "veltrano.cfg",
       "forms/t.tpl",
       {"alias file not used, names are taken as they stand: {dir}/veltrano.cfg" + tooLarge,
        "cannot read the template: forms/t.tpl: No such file or directory"}},
      {"success_page",
       "ok.htm",
       "t.tpl",
       {"cannot read the success page (SUCCEEDMSGFILE): ok.htm" + tooLarge}},
      {"address_file",
       "list",
       "t.tpl",
       {"cannot read the address file (ADRFILE): list" + tooLarge}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    // The pages are read before anything else is done, the address file
    // before any connection.
    const std::string mail = c.file == std::string("list")
                                 ? "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>f@example.org"
                                   "</SENDER><SUBJECT>s</SUBJECT><MSGBODY>b</MSGBODY>"
                                 : "";
    dir.Write("t.tpl", mail +
                           "<ADRFILE>list</ADRFILE><ERRMSGFILE>e</ERRMSGFILE>"
                           "<SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>"
                           "<FORMDATA>\n<NAME=\"a\">\n</FORMDATA>");
    dir.Write("ok.htm", "Content-type: text/html\n\nThanks\n");
    dir.Write("e", "Content-type: text/html\n\n$err$\n");
    dir.Write("list", "a@example.org\n");
    dir.Write("veltrano.cfg", "");
    fs::resize_file(dir.path() + "/" + c.file, 100'000'000'000);
    FakeSystem fake;
    Post(fake, c.query, "a=1");
    RunAt(dir.path() + "/veltrano2.exe", fake);
    ASSERT_EQ(fake.log.lines.size(), c.log.size());
    for (std::size_t i = 0; i < c.log.size(); ++i) {
      std::string want = c.log[i];
      if (want.find("{dir}") != std::string::npos) want.replace(want.find("{dir}"), 5, dir.path());
      EXPECT_TRUE(fake.log.lines[i].ends_with(want)) << fake.log.lines[i];
    }
    EXPECT_TRUE(fake.output.bytes.starts_with("Status: 500")) << fake.output.bytes;
  }
}

}  // namespace
}  // namespace veltrano
