// veltrano-check, run as the administrator runs it: on a site directory, as
// its own user (--user), mostly --offline; gpg and pgp.exe are real. As
// root, also the attacks of a site's user on root running the check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/fanotify.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/cgi_runner.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano::testing {
namespace {

namespace fs = std::filesystem;

struct CheckRun {
  std::string output;  // standard output and error
  int status = -1;
};

// `env` and `args` are shell words, already quoted where needed.
CheckRun RunCheck(const std::string& site, const std::string& env, const std::string& args) {
  std::string command =
      "cd '" + site + "' && env " + env + " '" + VELTRANO_CHECK_EXE + "' " + args + " 2>&1";
  CheckRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) run.output.append(buf, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Me() {
  return ::getpwuid(::geteuid())->pw_name;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string ReadSource(const std::string& relative) {
  return ReadFile(SourceDir() + "/" + relative);
}

// Every problem a template can have is absent from this one.
const std::string kGood =
    "<SMTPSERVER>{smtp}</SMTPSERVER>\n"
    "<SENDER>webform@example.org</SENDER>\n"
    "<REPLYTO>$email$</REPLYTO>\n"
    "<SUBJECT>Message from $name$</SUBJECT>\n"
    "<MSGBODY>$name$ ($email$, $remote_addr$) wrote on $systemdate$:\n$message$\n</MSGBODY>\n"
    "<RSUBJECT>Thank you</RSUBJECT>\n"
    "<RMSGBODY>We will answer soon.</RMSGBODY>\n"
    "<DFILE APPEND>{data}/contact.csv</DFILE>\n"
    "<DFILEFORMAT>\"$name$\",\"$email$\"</DFILEFORMAT>\n"
    "<RECIPIENTS>\nteam@example.org\n</RECIPIENTS>\n"
    "<RATELIMIT>{data}/ratelimit 5 3600</RATELIMIT>\n"
    "<DEBUG>off</DEBUG>\n"
    "<ERRMSGFILE>error.htm</ERRMSGFILE>\n"
    "<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n"
    "<FORMDATA>\n"
    "<NAME=\"name\" required REQUIREDERR=\"Your name, please.\">\n"
    "<NAME=\"email\" required REQUIREDERR=\"Your address.\" TYPE=\"EMAIL\" TYPEERR=\"No address.\" "
    "respondto>\n"
    "<NAME=\"message\">\n"
    "<NAME=\"to\" sendto>\n"
    "<NAME=\"website\" honeypot>\n"
    "</FORMDATA>\n";

// A site directory, a data directory outside it and an empty keyring.
class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.Write("error.htm", ReadSource("examples/error.htm"));
    site_.Write("success.htm", ReadSource("examples/success.htm"));
    site_.Write("failure.htm", ReadSource("examples/failure.htm"));
    site_.Write("bare.htm", "<HTML>Thank you</HTML>\n");
    site_.Write("sorry.htm", "<h1>$errtitle$</h1>$err$ $name$ $eror$\n");
    site_.Write("list.txt", "ok@example.org\nAnn <ann@example.org>\n");
    fs::create_symlink(data_.path() + "/elsewhere", data_.path() + "/link");
    fs::create_directory(keys_.path() + "/gnupg");
    fs::permissions(keys_.path() + "/gnupg", fs::perms::owner_all);
  }
  // {site}, {data}, {me}, {gnupg} and {smtp} in `text` filled in.
  std::string Fill(std::string text, const std::string& smtp = "127.0.0.1:25") const {
    Replace(text, "{site}", site_.path());
    Replace(text, "{data}", data_.path());
    Replace(text, "{me}", Me());
    Replace(text, "{gnupg}", keys_.path() + "/gnupg");
    Replace(text, "{smtp}", smtp);
    return text;
  }
  CheckRun Check(const std::string& args, const std::string& user = Me()) const {
    return RunCheck(site_.path(),
                    "GNUPGHOME='" + keys_.path() + "/gnupg' TMP='" + keys_.path() +
                        "' VELTRANO_PGP_DIRECTORY='" + SourceDir() + "/tools'",
                    "--user " + user + " " + args);
  }

  Site site_;  // the program beside the templates, for what the program does with them
  TempDir data_, keys_;
};

TEST_F(CheckTest, ReportsEachFaultOnItsLine) {
  const struct {
    const char* name;
    std::string from, to;  // in kGood; from "" changes nothing
    std::string lines;     // each after "NAME: "
    int status = 1;
    bool online = false;
    std::string query = "t.tpl";
    bool strict = false;
  } cases[] = {
      {"good", "", "", "", 0},
      {"missing_section", "<SENDER>webform@example.org</SENDER>", "",
       "error: template tag missing: SENDER\n"},
      {"every_bad_entry", "<NAME=\"message\">",
       "<NAME=\"message\" required>\n<NAME=\"n\" sendto respondto>",
       "error: required field without REQUIREDERR: message\n"
       "error: field entry has both sendto and respondto: NAME=\"n\" sendto respondto\n"},
      {"bad_rate_limit", "5 3600", "five 3600",
       "error: malformed RATELIMIT section: {data}/ratelimit five 3600\n"},
      {"debug_misspelt", "<DEBUG>off", "<DEBUG>of",
       "error: DEBUG is neither on nor off: of\n"
       "warning: DEBUG is not off: any visitor can add &debug and read the SMTP conversation\n"},
      {"recipient_with_name", "team@example.org\n", "Team <team@example.org>\n",
       "error: RECIPIENTS entry is neither a plain address nor @domain, so nothing matches it: "
       "Team <team@example.org>\n"},
      {"sender_with_name", "<SENDER>webform@example.org<", "<SENDER>Form <webform@example.org><",
       "error: SENDER is not a plain address (local@domain): Form <webform@example.org>\n"},
      {"bad_port", "{smtp}", "localhost:smtp",
       "error: SMTPSERVER localhost:smtp: not a port number after the last ':'\n"},
      {"no_data_format", "<DFILEFORMAT>", "<XDFILEFORMAT>", "error: DFILE without DFILEFORMAT\n"},
      {"missing_page", "error.htm<", "eror.htm<",
       "error: {me} cannot read the error page (ERRMSGFILE) {site}/eror.htm: No such file or "
       "directory (did you mean error.htm?)\n"},
      {"page_without_header", "success.htm<", "bare.htm<",
       "error: the success page (SUCCEEDMSGFILE) {site}/bare.htm has no header block: it must "
       "begin with CGI header lines such as Content-type: text/html and an empty line\n"},
      {"error_page_without_list", "error.htm<", "success.htm<",
       "error: the error page (ERRMSGFILE) {site}/success.htm holds no $err$: a submission with "
       "failed fields gets an empty answer\n"},
      {"bad_origin", "<DEBUG>", "<ALLOWORIGIN>https://a.example/</ALLOWORIGIN><DEBUG>",
       "error: ALLOWORIGIN entry is not an origin (scheme://host[:port]): https://a.example/\n"},
      {"bad_url", "<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>",
       "<SUCCEEDURL>thanks.htm?n=$name$</SUCCEEDURL>",
       "error: SUCCEEDURL is not an http(s) URL or a path: thanks.htm?n=$name$\n"},
      {"url_hides_page", "<DEBUG>", "<SUCCEEDURL>https://a.example/t</SUCCEEDURL><DEBUG>",
       "warning: SUCCEEDURL and SUCCEEDMSGFILE: success redirects to https://a.example/t, the "
       "success page success.htm is never shown\n",
       0},
      {"failure_page_missing", "<DEBUG>", "<FATALMSGFILE>sory.htm</FATALMSGFILE><DEBUG>",
       "error: {me} cannot read the failure page (FATALMSGFILE) {site}/sory.htm: No such file or "
       "directory (did you mean sorry.htm?)\n"},
      {"failure_page_checked", "<DEBUG>", "<FATALMSGFILE>sorry.htm</FATALMSGFILE><DEBUG>",
       "error: the failure page (FATALMSGFILE) {site}/sorry.htm has no header block: it must "
       "begin with CGI header lines such as Content-type: text/html and an empty line\n"
       "warning: placeholder $eror$ in the failure page (FATALMSGFILE) {site}/sorry.htm names no "
       "field and no variable a web server sets (did you mean $err$?)\n"},
      {"bad_address_file", "<DEBUG>", "<ADRFILE>list.txt</ADRFILE><DEBUG>",
       "error: the address file (ADRFILE) {site}/list.txt, line 2: Ann <ann@example.org> is not a "
       "usable mail address\n"},
      {"no_data_directory", "/contact.csv", "/new/contact.csv",
       "error: {me} cannot create the data file (DFILE) {data}/new/contact.csv: {data}/new: No "
       "such file or directory\n"},
      {"state_file_is_data_file", "/ratelimit ", "/contact.csv ",
       "error: RATELIMIT and DFILE name one file: RATELIMIT {data}/contact.csv, DFILE "
       "{data}/contact.csv\n"},
      {"state_file_link", "/ratelimit ", "/link ",
       "error: {me} cannot write the rate-limit state file (RATELIMIT) {data}/link: a symbolic "
       "link, which is not followed\n"},
      {"key_not_in_keyring", "\"to\" sendto", "\"to\" sendto PGP=\"nokey@example.org\"",
       "error: PGP key nokey@example.org cannot be used from {me}'s keyring {gnupg}: gpg: "
       "nokey@example.org: skipped: No public key\n"},
      {"server_down", "", "",
       "error: cannot open the SMTP conversation: server {smtp}: Connection refused\n", 1, true},
      {"name_refused", "", "", "error: template name refused, it holds: a \"..\" component\n", 1,
       false, "../t.tpl"},
      {"no_template", "", "",
       "error: {me} cannot read the template {site}/nosuch.tpl: No such file or directory\n", 1,
       false, "nosuch.tpl"},
      {"placeholder_typo", "$message$", "$mesage$",
       "warning: placeholder $mesage$ in MSGBODY names no field and no variable a web server "
       "sets (did you mean $message$?)\n",
       0},
      {"strict", "$message$", "$mesage$",
       "warning: placeholder $mesage$ in MSGBODY names no field and no variable a web server "
       "sets (did you mean $message$?)\n",
       1, false, "t.tpl", true},
      {"placeholder_far_from_any", "$message$", "$remark$",
       "warning: placeholder $remark$ in MSGBODY names no field and no variable a web server "
       "sets\n",
       0},
      {"variable_typo", "$remote_addr$", "$remote_adr$",
       "warning: placeholder $remote_adr$ in MSGBODY names no field and no variable a web server "
       "sets (did you mean $REMOTE_ADDR$?)\n",
       0},
      {"data_file_typo", "/contact.csv", "/lnk",
       "warning: the data file (DFILE) {data}/lnk does not exist yet (did you mean link?)\n", 0},
      {"open_relay", "<RECIPIENTS>\nteam@example.org\n</RECIPIENTS>", "",
       "warning: sendto field to without RECIPIENTS: the form mails to any address a visitor "
       "names (an open relay)\n",
       0},
      {"response_quotes_field", "We will answer soon.", "You wrote: $message$",
       "warning: the response mail quotes field message in RMSGBODY: a visitor's words go to an "
       "address nobody has verified\n",
       0},
      {"response_is_the_message", "<RSUBJECT>Thank you</RSUBJECT>", "",
       "warning: the response mail quotes field name in SUBJECT: a visitor's words go to an "
       "address nobody has verified\n"
       "warning: the response mail quotes field name in MSGBODY: a visitor's words go to an "
       "address nobody has verified\n"
       "warning: the response mail quotes field message in MSGBODY: a visitor's words go to an "
       "address nobody has verified\n",
       0},
      {"no_honeypot", "<NAME=\"website\" honeypot>\n", "",
       "warning: the form sends mail without a honeypot field: robots' submissions are mailed "
       "too\n",
       0},
      {"upload_over_postfix_limit", "</FORMDATA>\n",
       "<NAME=\"cv\" ATTACH=\"pdf\" ATTACHERR=\"A PDF, please.\">\n</FORMDATA>\n"
       "<MAXUPLOAD>8388608</MAXUPLOAD>\n",
       "warning: MAXUPLOAD 8388608 lets a mail grow to about 11544686 bytes with its files "
       "base64-encoded, over Postfix's default message_size_limit of 10240000: raise that limit, "
       "or lower MAXUPLOAD\n",
       0},
      {"no_rate_limit", "<RATELIMIT>", "<XRATELIMIT>",
       "warning: the form sends mail without a RATELIMIT: one visitor can send any number of "
       "mails\n",
       0},
      {"data_file_in_site", "{data}/contact.csv", "contact.csv",
       "warning: the data file (DFILE) {site}/contact.csv lies inside the site directory {site}: "
       "a visitor can name it as a template\n",
       0},
  };
  ClosedSmtpAddress closed;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = kGood;
    if (!c.from.empty()) {
      ASSERT_NE(text.find(c.from), std::string::npos);
      Replace(text, c.from, c.to);
    }
    site_.Write("t.tpl", Fill(text, closed.address()));
    std::string want;
    std::istringstream lines(Fill(c.lines, closed.address()));
    for (std::string line; std::getline(lines, line);) want += c.query + ": " + line + "\n";
    CheckRun run =
        Check((c.online ? "" : "--offline ") + std::string(c.strict ? "--strict " : "") + c.query);
    EXPECT_EQ(run.output, want);
    EXPECT_EQ(run.status, c.status);
  }
}

// The conversation is a greeting, HELO and QUIT: nothing is mailed.
TEST_F(CheckTest, GreetsTheServerWithoutMail) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  site_.Write("t.tpl", Fill(kGood, server.address()));
  CheckRun run = Check("t.tpl");
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  std::string received = server.Finish();
  EXPECT_EQ(received.rfind("HELO ", 0), 0u) << received;
  EXPECT_TRUE(received.ends_with("\r\nQUIT\r\n")) << received;
  EXPECT_EQ(received.find("MAIL"), std::string::npos) << received;
}

// Run as root, the files are opened by a child that has become the user,
// and what the user can't read is not looked into (bare.htm has no header).
TEST_F(CheckTest, ChecksWithTheUsersRights) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can take another user's identity";
  std::string text = kGood;
  Replace(text, "success.htm<", "bare.htm<");
  site_.Write("t.tpl", Fill(text));
  fs::permissions(site_.path() + "/bare.htm", fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(site_.path(),
                  fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(data_.path(), fs::perms::owner_all | fs::perms::others_exec);
  CheckRun run = Check("--offline t.tpl", "nobody");
  EXPECT_EQ(run.output,
            Fill("t.tpl: error: nobody cannot read the success page (SUCCEEDMSGFILE) "
                 "{site}/bare.htm: Permission denied\n"
                 "t.tpl: error: nobody cannot create the data file (DFILE) {data}/contact.csv: "
                 "{data}: Permission denied\n"
                 "t.tpl: error: nobody cannot create the rate-limit state file (RATELIMIT) "
                 "{data}/ratelimit: {data}: Permission denied\n"));
  EXPECT_EQ(run.status, 1);
  ASSERT_EQ(::chown(data_.path().c_str(), ::getpwnam("nobody")->pw_uid, 0), 0);
  fs::permissions(site_.path() + "/bare.htm", fs::perms::others_read, fs::perm_options::add);
  EXPECT_EQ(Check("--offline t.tpl", "nobody").output,
            Fill("t.tpl: error: the success page (SUCCEEDMSGFILE) {site}/bare.htm has no header "
                 "block: it must begin with CGI header lines such as Content-type: text/html and "
                 "an empty line\n"));
}

// The examples as the guide deploys them: their data in a directory of the
// web server's user (here the data directory), the key of root@localhost in
// the keyring.
TEST_F(CheckTest, ExamplesHaveNoError) {
  for (const char* name :
       {"contact.tpl", "secure.tpl", "apply.tpl", "apply-secure.tpl", "fetch.tpl"}) {
    std::string text = ReadSource(std::string("examples/") + name);
    Replace(text, "/var/lib/veltrano/", data_.path() + "/");
    site_.Write(name, text);
  }
  const std::string keygen = "export GNUPGHOME='" + keys_.path() +
                             "/gnupg'; gpg --batch --quiet --passphrase '' --quick-gen-key "
                             "root@localhost default default never 2>/dev/null && gpgconf "
                             "--kill gpg-agent";
  ASSERT_EQ(std::system(keygen.c_str()), 0);
  CheckRun run = Check("--offline contact.tpl secure.tpl apply.tpl apply-secure.tpl fetch.tpl");
  EXPECT_EQ(run.output.find(": error: "), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 0) << run.output;
}

// Where the checker and the program share a rule, they agree: what the
// check calls an error the program refuses or leaves out (and logs), what
// it lets pass the program uses as written.
TEST_F(CheckTest, CheckerAndProgramAgree) {
  const std::string kBody = "name=Ann&email=ann@example.org&message=Hi&to=team@example.org";
  const struct {
    const char* name;
    std::string from, to;  // in kGood
    std::string lines;     // what the check says, each after "t.tpl: "
    std::string has;       // in what the program did (page, mail session, data file, log)
    std::string lacks;
    std::string body = "";
    std::string query = "t.tpl";
  } cases[] = {
      {"sender_not_plain", ">webform@example.org<", ">form@a@example.org<",
       "error: SENDER is not a plain address (local@domain): form@a@example.org\n",
       "<pre>form@a@example.org</pre>", "MAIL FROM"},
      {"sender_null", ">webform@example.org<", "><", "", "MAIL FROM:<>\r\n", "Invalid"},
      {"reply_to_routed", "$email$</REPLYTO>", "x%y@example.org</REPLYTO>",
       "error: REPLYTO is not a plain address (local@domain): x%y@example.org\n",
       "no Reply-To header, REPLYTO is not a usable address: x%y@example.org", "Reply-To:"},
      {"reply_to_fixed", "$email$</REPLYTO>", "help@example.org</REPLYTO>", "",
       "Reply-To: help@example.org\r\n", "no Reply-To"},
      {"address_line_with_name", "<DEBUG>", "<ADRFILE>list.txt</ADRFILE><DEBUG>",
       "error: the address file (ADRFILE) {site}/list.txt, line 2: Ann <ann@example.org> is not a "
       "usable mail address\n",
       "Invalid mail address: ann &lt;ann@example.org&gt;", "MAIL FROM"},
      {"address_line_odd_but_safe", "<DEBUG>", "<ADRFILE>odd.txt</ADRFILE><DEBUG>", "",
       "RCPT TO:<a@b@example.org>", "Invalid"},
      {"recipient_entry_with_name", "team@example.org\n", "Team <team@example.org>\n",
       "error: RECIPIENTS entry is neither a plain address nor @domain, so nothing matches it: "
       "Team <team@example.org>\n",
       "Recipient not allowed: team@example.org", "MAIL FROM"},
      {"recipient_domain", "team@example.org\n", "@example.org\n", "", "RCPT TO:<team@example.org>",
       "not allowed"},
      {"placeholder_names_nothing", "$message$", "$mesage$",
       "warning: placeholder $mesage$ in MSGBODY names no field and no variable a web server "
       "sets (did you mean $message$?)\n",
       "wrote on", "Hi"},
      {"placeholder_variable", "$message$", "$server_software$", "", "Apache/2.4.57", ""},
      {"debug_misspelt", "<DEBUG>off", "<DEBUG>of",
       "error: DEBUG is neither on nor off: of\n"
       "warning: DEBUG is not off: any visitor can add &debug and read the SMTP conversation\n",
       "rfc821 mail transaction process", "", "", "t.tpl&debug"},
      {"debug_off_any_case", "<DEBUG>off", "<DEBUG> OFF", "", "Thank you", "rfc821", "",
       "t.tpl&debug"},
      {"guard_on", "<DEBUG>", "<DFILEGUARD>On</DFILEGUARD><DEBUG>", "", "\"'=1+1\"", "",
       "name=%3D1%2B1&email=ann@example.org&to=team@example.org"},
      {"guard_misspelt", "<DEBUG>", "<DFILEGUARD>yes</DFILEGUARD><DEBUG>",
       "error: DFILEGUARD is neither on nor off: yes\n", "\"=1+1\"",
       "'=", "name=%3D1%2B1&email=ann@example.org&to=team@example.org"},
  };
  site_.Write("odd.txt", "a@b@example.org\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = kGood;
    ASSERT_NE(text.find(c.from), std::string::npos);
    Replace(text, c.from, c.to);
    ScriptedSmtpServer server;
    SKIP_WITHOUT_SERVER(server);
    site_.Write("t.tpl", Fill(text, server.address()));
    std::string want;
    std::istringstream lines(Fill(c.lines));
    for (std::string line; std::getline(lines, line);) want += "t.tpl: " + line + "\n";
    EXPECT_EQ(Check("--offline t.tpl").output, want);

    fs::remove(data_.path() + "/ratelimit");
    fs::remove(data_.path() + "/contact.csv");
    CgiResult cgi = RunCgi(site_, PostRequest(c.query, c.body.empty() ? kBody : c.body));
    const std::string data = fs::exists(data_.path() + "/contact.csv")
                                 ? ReadFile(data_.path() + "/contact.csv")
                                 : std::string();
    const std::string did = cgi.output + server.Finish() + data + cgi.errors;
    EXPECT_NE(did.find(c.has), std::string::npos) << did;
    if (!c.lacks.empty()) {
      EXPECT_EQ(did.find(c.lacks), std::string::npos) << did;
    }
  }
}

// A file far past its kind's limit (a sparse 100 GB page) is reported as
// too large, never read, and the next template is checked.
TEST_F(CheckTest, HugeFileIsTooLargeAndTheNextTemplateIsChecked) {
  site_.Write("big.htm", "");
  fs::resize_file(site_.path() + "/big.htm", 100'000'000'000);
  std::string big = kGood, typo = kGood;
  Replace(big, "success.htm<", "big.htm<");
  Replace(typo, "$message$", "$mesage$");
  site_.Write("big.tpl", Fill(big));
  site_.Write("t.tpl", Fill(typo));
  CheckRun run = Check("--offline big.tpl t.tpl");
  EXPECT_EQ(run.output,
            Fill("big.tpl: error: {me} cannot read the success page (SUCCEEDMSGFILE) "
                 "{site}/big.htm: too large, over 1048576 bytes\n"
                 "t.tpl: warning: placeholder $mesage$ in MSGBODY names no field and no variable "
                 "a web server sets (did you mean $message$?)\n"));
  EXPECT_EQ(run.status, 1);
}

// The attacks of a site's user on root running the check. They need root;
// CI runs the tests as root, so there a skip is a failure.
#define SKIP_UNLESS_ROOT()                                                            \
  if (::geteuid() != 0) {                                                             \
    if (std::getenv("CI") != nullptr) FAIL() << "CI must run this test as root";      \
    GTEST_SKIP() << "needs root: it tries what a site's user can do to root's check"; \
  }

class AttackTest : public CheckTest {
 protected:
  // The site, the data directory and the keyring as the guide sets them up:
  // nobody (the web server's user here) reads the site, owns the rest.
  void SetUp() override {
    CheckTest::SetUp();
    if (::geteuid() != 0) return;  // each test skips
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const std::string& dir : {data_.path(), keys_.path(), keys_.path() + "/gnupg"}) {
      ASSERT_EQ(::chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    fs::permissions(site_.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  }
  // A file of root's that nobody must never see.
  std::string RootOnly(const std::string& name, const std::string& content) {
    secrets_.Write(name, content);
    fs::permissions(secrets_.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(secrets_.path() + "/" + name, fs::perms::owner_read);
    return secrets_.path() + "/" + name;
  }
  TempDir secrets_;
};

// A program the user controls (gpg, as the keyring's gpg.conf tells it)
// finds no terminal: its own session has none, so nothing it writes or
// types reaches root's.
TEST_F(AttackTest, TheUsersProgramsFindNoTerminal) {
  SKIP_UNLESS_ROOT();
  keys_.Write("gnupg/gpg.conf", "logger-file /dev/tty\nverbose\n");
  ASSERT_EQ(::chown((keys_.path() + "/gnupg/gpg.conf").c_str(), ::getpwnam("nobody")->pw_uid, 0),
            0);
  std::string text = kGood;
  Replace(text, "\"to\" sendto", "\"to\" sendto PGP=\"nokey@example.org\"");
  site_.Write("t.tpl", Fill(text));

  // veltrano-check on a terminal of its own, as root runs it at a shell.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  const std::string gnupg = keys_.path() + "/gnupg";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int tty = (::setsid(), ::open(slave.c_str(), O_RDWR));
    if (tty < 0 || ::ioctl(tty, TIOCSCTTY, 0) != 0 || ::dup2(tty, 0) < 0 || ::dup2(tty, 1) < 0 ||
        ::dup2(tty, 2) < 0 || ::chdir(site_.path().c_str()) != 0) {
      ::_exit(126);
    }
    ::setenv("GNUPGHOME", gnupg.c_str(), 1);
    ::execl(VELTRANO_CHECK_EXE, "veltrano-check", "--user", "nobody", "--offline", "t.tpl",
            nullptr);
    ::_exit(127);
  }
  std::string seen;
  char buf[4096];
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 60000) <= 0) break;
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // EIO: every descriptor of the terminal is closed
    seen.append(buf, static_cast<std::size_t>(n));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  std::erase(seen, '\r');
  EXPECT_NE(seen.find("t.tpl: error: PGP key nokey@example.org cannot be"), std::string::npos)
      << seen;
  EXPECT_EQ(seen.find("gpg["), std::string::npos) << "gpg's log reached root's terminal:\n" << seen;
}

// A page swapped for a link to a root-only file at the moment the check
// opens it (fanotify holds the open until the swap is done): the one open
// is the user's, and the secret never shows.
TEST_F(AttackTest, AFileSwappedAsItIsOpenedIsNeverReadAsRoot) {
  SKIP_UNLESS_ROOT();
  const std::string secret = RootOnly("page.htm", "Content-type: text/html\n\n$ROOT_SECRET$\n");
  fs::create_symlink(secret, site_.path() + "/swap");
  site_.Write("t.tpl", Fill(kGood));
  const std::string page = site_.path() + "/success.htm";
  const int fan = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
  ASSERT_GE(fan, 0) << "fanotify: " << std::strerror(errno);
  ASSERT_EQ(::fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, page.c_str()), 0);
  std::atomic<bool> done = false;
  std::atomic<int> opens = 0;
  std::thread watcher([&] {
    alignas(fanotify_event_metadata) char events[4096];
    while (!done) {
      pollfd p{fan, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      ssize_t n = ::read(fan, events, sizeof events);
      for (auto* e = reinterpret_cast<fanotify_event_metadata*>(events); FAN_EVENT_OK(e, n);
           e = FAN_EVENT_NEXT(e, n)) {
        if (opens++ == 0) fs::rename(site_.path() + "/swap", page);
        const fanotify_response allow{e->fd, FAN_ALLOW};
        EXPECT_EQ(::write(fan, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
        ::close(e->fd);
      }
    }
  });
  CheckRun run = Check("--offline t.tpl", "nobody");
  done = true;
  watcher.join();
  ::close(fan);
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(fs::is_symlink(page));
  EXPECT_EQ(run.output, "");
}

// An alias file the user cannot read (a link to a root-only file) is not
// used, as the program would not use it, and shows none of its text.
TEST_F(AttackTest, AnAliasFileTheUserCannotReadIsNotUsed) {
  SKIP_UNLESS_ROOT();
  fs::create_symlink(RootOnly("aliases", "forms=/ROOT_SECRET\n"), site_.path() + "/veltrano.cfg");
  site_.Write("forms/t.tpl", Fill(kGood));
  CheckRun run = Check("--offline forms/t.tpl", "nobody");
  EXPECT_EQ(run.output,
            Fill("forms/t.tpl: error: nobody cannot read the alias file {site}/veltrano.cfg: "
                 "Permission denied\n"));
  EXPECT_EQ(run.status, 1);
}

TEST_F(CheckTest, BadCommandLineGivesUsage) {
  for (const char* args : {"", "--offline", "--bogus t.tpl", "--site", "--user nosuchuser t.tpl",
                           "--site /nonexistent t.tpl"}) {
    SCOPED_TRACE(args);
    CheckRun run = RunCheck(site_.path(), "", args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.output.ends_with(
        "usage: veltrano-check [--site DIR] [--user USER] [--offline] [--strict] NAME...\n"))
        << run.output;
  }
}

}  // namespace
}  // namespace veltrano::testing
