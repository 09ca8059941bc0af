// veltrano-check, run as the administrator runs it: on a site directory, as
// its own user (--user), mostly --offline; gpg and pgp.exe are real.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string ReadSource(const std::string& relative) {
  std::ifstream in(SourceDir() + "/" + relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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
    site_.Write("bare.htm", "<HTML>Thank you</HTML>\n");
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

  TempDir site_, data_, keys_;
};

TEST_F(CheckTest, ReportsEachFaultOnItsLine) {
  const struct {
    const char* name;
    std::string from, to;  // in kGood; from "" changes nothing
    std::string lines;     // each after "NAME: "
    int status = 1;
    bool online = false;
    std::string query = "t.tpl";
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
       "directory\n"},
      {"page_without_header", "success.htm<", "bare.htm<",
       "error: the success page (SUCCEEDMSGFILE) {site}/bare.htm has no header block: it must "
       "begin with CGI header lines such as Content-type: text/html and an empty line\n"},
      {"error_page_without_list", "error.htm<", "success.htm<",
       "error: the error page (ERRMSGFILE) {site}/success.htm holds no $err$: a submission with "
       "failed fields gets an empty answer\n"},
      {"bad_address_file", "<DEBUG>", "<ADRFILE>list.txt</ADRFILE><DEBUG>",
       "error: the address file (ADRFILE) {site}/list.txt, line 2: Ann <ann@example.org> is not a "
       "usable mail address\n"},
      {"no_data_directory", "/contact.csv", "/new/contact.csv",
       "error: {me} cannot create the data file (DFILE) {data}/new/contact.csv: {data}/new: No "
       "such file or directory\n"},
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
       "sets\n",
       0},
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
    CheckRun run = Check((c.online ? "" : "--offline ") + c.query);
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
  for (const char* name : {"contact.tpl", "secure.tpl", "apply.tpl", "apply-secure.tpl"}) {
    std::string text = ReadSource(std::string("examples/") + name);
    Replace(text, "/var/lib/veltrano/", data_.path() + "/");
    site_.Write(name, text);
  }
  const std::string keygen = "export GNUPGHOME='" + keys_.path() +
                             "/gnupg'; gpg --batch --quiet --passphrase '' --quick-gen-key "
                             "root@localhost default default never 2>/dev/null && gpgconf "
                             "--kill gpg-agent";
  ASSERT_EQ(std::system(keygen.c_str()), 0);
  CheckRun run = Check("--offline contact.tpl secure.tpl apply.tpl apply-secure.tpl");
  EXPECT_EQ(run.output.find(": error: "), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(CheckTest, BadCommandLineGivesUsage) {
  for (const char* args : {"", "--offline", "--bogus t.tpl", "--site", "--user nosuchuser t.tpl",
                           "--site /nonexistent t.tpl"}) {
    SCOPED_TRACE(args);
    CheckRun run = RunCheck(site_.path(), "", args);
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.output.ends_with(
        "usage: veltrano-check [--site DIR] [--user USER] [--offline] NAME...\n"))
        << run.output;
  }
}

}  // namespace
}  // namespace veltrano::testing
