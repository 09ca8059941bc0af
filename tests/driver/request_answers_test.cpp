// Whole runs answered for scripts and other origins: JSON, the cross-origin
// headers and the preflight, the redirect after success, and the site's
// failure page. Each case says what went out, whether the data line was
// written, and the message parts of the log lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/request.hpp"
#include "expand/placeholders.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::Crlf;
using testing::FakeSystem;
using testing::TempDir;

const std::string kJson = "Content-type: application/json; charset=utf-8\n\n";
const std::string kAllowA = "Access-Control-Allow-Origin: https://a.example\nVary: Origin\n";
const std::string kSuccess = "Content-type: text/html\n\nThanks $name$\n";
const std::string kSorry = "Content-type: text/html\n\n<h1>$errtitle$</h1>$name$: $err$\n";

struct Case {
  const char* name;
  std::string sections;                       // added to the template
  std::map<std::string, std::string> extras;  // CGI variables beside the POST's
  std::string body;
  std::string want;                   // LF line ends; "{dir}" stands for the site directory
  bool written;                       // the data line
  std::vector<std::string> log = {};  // message parts of the log lines
};

std::string Replaced(std::string text, const std::string& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

void RunCase(const Case& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  const bool mails = c.sections.find("<SMTPSERVER>") != std::string::npos;
  dir.Write("t.tpl", Replaced(c.sections, dir.path()) +
                         "<ERRMSGFILE>e.htm</ERRMSGFILE><DFILE APPEND>data</DFILE>"
                         "<DFILEFORMAT>$name$</DFILEFORMAT><FORMDATA>\n"
                         "<NAME=\"name\" required REQUIREDERR=\"Say who\">\n"
                         "<NAME=\"age\" TYPE=\"INT\" TYPEERR=\"Age $age$ is no age\">\n"
                         "<NAME=\"url\" honeypot>\n" +
                         (mails ? "<NAME=\"to\" sendto>\n" : "") + "</FORMDATA>");
  dir.Write("ok.htm", kSuccess);
  dir.Write("e.htm", "Content-type: text/html\n\n<ul>$err$</ul>\n");
  dir.Write("sorry.htm", kSorry);
  dir.Write("plain.htm", "Content-type: text/html\n\n<h1>$errtitle$</h1>Please try later.\n");
  FakeSystem fake;
  fake.env.vars = {{"QUERY_STRING", "t.tpl"},
                   {"REQUEST_METHOD", "POST"},
                   {"CONTENT_LENGTH", std::to_string(c.body.size())}};
  for (const auto& [name, value] : c.extras) fake.env.vars[name] = value;
  fake.input.bytes = c.body;
  const std::filesystem::path before = std::filesystem::current_path();
  RunProgram(dir.path() + "/veltrano2.exe", fake.system);
  std::filesystem::current_path(before);
  EXPECT_EQ(fake.output.bytes, Crlf(Replaced(c.want, dir.path())));
  EXPECT_EQ(dir.Exists("data"), c.written);
  std::vector<std::string> messages;
  for (const std::string& line : fake.log.lines) {
    messages.push_back(line.substr(line.find("veltrano2.exe: ") + 15));
  }
  EXPECT_EQ(messages, c.log);
}

const std::string kPage = "<SUCCEEDMSGFILE>ok.htm</SUCCEEDMSGFILE>";
const std::map<std::string, std::string> kAsksJson = {{"HTTP_ACCEPT", "application/json"}};
const std::string kJsonNotPost = "Status: 405 Method Not Allowed\nAllow: POST\n" + kJson +
                                 "{\"ok\": false, \"error\": \"Form Submit Error\", \"message\": "
                                 "\"You must submit a form with a "
                                 "POST method.\"}\n";

TEST(RunProgramAnswersTest, JsonForScripts) {
  const Case cases[] = {
      {"success", kPage, kAsksJson, "name=Ann", kJson + "{\"ok\": true}\n", true},
      {"field_errors_in_page_order", kPage, kAsksJson, "age=x%22",
       "Status: 422 Unprocessable Content\n" + kJson +
           "{\"ok\": false, \"errors\": [{\"field\": \"name\", \"message\": \"Say who\"}, "
           "{\"field\": \"age\", \"message\": \"Age x\\\" is no age\"}]}\n",
       false},
      {"honeypot",
       kPage,
       kAsksJson,
       "name=Ann&url=x",
       kJson + "{\"ok\": true}\n",
       false,
       {"honeypot filled in, submission discarded (no mail, command or record): field url, "
        "client (no REMOTE_ADDR)"}},
      {"not_post",
       kPage,
       {{"HTTP_ACCEPT", "application/json"}, {"REQUEST_METHOD", "GET"}},
       "",
       kJsonNotPost,
       false,
       {"form not sent with POST: method GET"}},
      {"success_page_missing",
       "<SUCCEEDMSGFILE>none.htm</SUCCEEDMSGFILE>",
       kAsksJson,
       "name=Ann",
       "Status: 500 Internal Server Error\n" + kJson +
           "{\"ok\": false, \"error\": \"Load Failure\", \"message\": \"Failed to load or locate "
           "the file specified in <SucceedMsgFile>\"}\n",
       false,
       {"cannot read the success page (SUCCEEDMSGFILE): none.htm: No such file or directory"}},
      // Before the template is read, and for the debug page, a page as ever.
      {"template_error",
       kPage + "<SUCCEEDURL>x</SUCCEEDURL>",
       kAsksJson,
       "name=Ann",
       "Status: 500 Internal Server Error\nContent-type: text/html\n\n<HTML>\n<TITLE>Template "
       "Error</TITLE>The &lt;SUCCEEDURL&gt; section must hold an http or https URL or a path "
       "beginning with /, without placeholders, spaces or control characters.  Please check your "
       "template file\n<br><pre>x</pre>",
       false,
       {"SUCCEEDURL is not an http(s) URL or a path: x"}},
  };
  for (const Case& c : cases) RunCase(c);
}

TEST(RunProgramAnswersTest, CrossOriginHeadersForListedOriginsOnly) {
  const std::string allow =
      kPage + "<ALLOWORIGIN>https://a.example https://b.example</ALLOWORIGIN>";
  const Case cases[] = {
      {"success_page",
       allow,
       {{"HTTP_ORIGIN", "https://a.example"}},
       "name=Ann",
       "Content-type: text/html\n" + kAllowA + "\nThanks Ann\n",
       true},
      {"error_page",
       allow,
       {{"HTTP_ORIGIN", "https://a.example"}},
       "",
       "Content-type: text/html\n" + kAllowA + "\n<ul><li>Say who</ul>\n",
       false},
      {"json_and_fatal",
       allow,
       {{"HTTP_ORIGIN", "https://a.example"}, {"HTTP_ACCEPT", "application/json"}},
       "name=%zz",
       "Status: 400 Bad Request\n" + kAllowA + kJson +
           "{\"ok\": false, \"error\": \"Veltrano error\", \"message\": \"Invalid escape "
           "sequence\"}\n",
       false,
       {"invalid %-escape in the form body"}},
      {"any",
       kPage + "<ALLOWORIGIN>*</ALLOWORIGIN>",
       {{"HTTP_ORIGIN", "https://c.example"}},
       "name=Ann",
       "Content-type: text/html\nAccess-Control-Allow-Origin: *\nVary: Origin\n\nThanks Ann\n",
       true},
      {"preflight",
       allow,
       {{"HTTP_ORIGIN", "https://b.example"}, {"REQUEST_METHOD", "OPTIONS"}},
       "",
       "Status: 204 No Content\nAccess-Control-Allow-Methods: POST\nAccess-Control-Allow-Headers: "
       "Content-Type, Accept\nAccess-Control-Max-Age: 86400\nAccess-Control-Allow-Origin: "
       "https://b.example\nVary: Origin\n\n",
       false},
      {"options_without_allow_origin",
       kPage,
       {{"HTTP_ORIGIN", "https://a.example"}, {"REQUEST_METHOD", "OPTIONS"}},
       "",
       "Content-type: text/html\n\n<HTML>\n<TITLE>Form Submit Error</TITLE>You must submit a "
       "form with a POST method.",
       false,
       {"form not sent with POST: method OPTIONS"}},
  };
  for (const Case& c : cases) RunCase(c);
}

TEST(RunProgramAnswersTest, RedirectAfterSuccess) {
  const std::string url = "<SUCCEEDURL>https://a.example/thanks</SUCCEEDURL>";
  const std::string redirect =
      "Status: 303 See Other\nLocation: https://a.example/thanks\nContent-type: "
      "text/html\n\n<HTML>\n<TITLE>Form sent</TITLE>The form was sent.  <A "
      "HREF=\"https://a.example/thanks\">https://a.example/thanks</A>\n";
  const Case cases[] = {
      {"no_success_page_needed", url, {}, "name=Ann", redirect, true},
      {"url_wins",
       url + "<SUCCEEDMSGFILE>none.htm</SUCCEEDMSGFILE>",
       {},
       "name=Ann",
       redirect,
       true},
      {"honeypot",
       url,
       {},
       "name=Ann&url=x",
       redirect,
       false,
       {"honeypot filled in, submission discarded (no mail, command or record): field url, "
        "client (no REMOTE_ADDR)"}},
      {"json", url, kAsksJson, "name=Ann",
       kJson + "{\"ok\": true, \"next\": \"https://a.example/thanks\"}\n", true},
      {"debug_page_as_ever",
       url,
       {{"QUERY_STRING", "t.tpl&debug"}},
       "name=Ann",
       "Content-type: text/html\n\n<HTML>\n<TITLE>rfc821 mail transaction process</TITLE>",
       true},
      {"errors_as_ever", url, {}, "", "Content-type: text/html\n\n<ul><li>Say who</ul>\n", false},
  };
  for (const Case& c : cases) RunCase(c);
}

TEST(RunProgramAnswersTest, SiteFailurePage) {
  const std::string sorry = kPage + "<FATALMSGFILE>sorry.htm</FATALMSGFILE>";
  const std::string mail =
      "<SMTPSERVER>127.0.0.1:1</SMTPSERVER><SENDER>s@example.org</SENDER>"
      "<SUBJECT>s</SUBJECT><MSGBODY>b</MSGBODY>";
  const Case cases[] = {
      // The values the run had read, the status of the failure.
      // Without $err$ the mail server's words stay out of the page.
      {"smtp_failure",
       kPage + "<FATALMSGFILE>plain.htm</FATALMSGFILE>" + mail,
       {},
       "name=Ann&to=x%40example.org",
       "Status: 503 Service Unavailable\nContent-type: text/html\n\n<h1>Socket Initialization "
       "error</h1>Please try later.\n",
       false,
       {"cannot open the SMTP conversation: server 127.0.0.1:1: Connection refused"}},
      {"visitor_caused",
       sorry + mail,
       {},
       "name=Ann&to=%3Cx%3E",
       "Content-type: text/html\n\n<h1>Mail send error</h1>Ann: Invalid mail address: "
       "&lt;x&gt;\n",
       false,
       {"invalid mail address not sent: <x>"}},
      {"before_the_form",
       sorry,
       {{"REQUEST_METHOD", "GET"}},
       "",
       "Content-type: text/html\n\n<h1>Form Submit Error</h1>: You must submit a form with a "
       "POST method.\n",
       false,
       {"form not sent with POST: method GET"}},
      {"a_page_missing",
       "<FATALMSGFILE>sorry.htm</FATALMSGFILE><SUCCEEDMSGFILE>none.htm</SUCCEEDMSGFILE>",
       {{"SERVER_SOFTWARE", "Microsoft-IIS/10.0"}},
       "name=Ann",
       "HTTP/1.0 500 Internal Server Error\nContent-type: text/html\n\n<h1>Load Failure</h1>: "
       "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;\n",
       false,
       {"cannot read the success page (SUCCEEDMSGFILE): none.htm: No such file or directory"}},
      {"with_cross_origin_headers",
       sorry + "<ALLOWORIGIN>https://a.example</ALLOWORIGIN>",
       {{"REQUEST_METHOD", "GET"}, {"HTTP_ORIGIN", "https://a.example"}},
       "",
       "Content-type: text/html\n" + kAllowA +
           "\n<h1>Form Submit Error</h1>: You must submit a form with a POST method.\n",
       false,
       {"form not sent with POST: method GET"}},
      {"json_wins",
       sorry,
       {{"REQUEST_METHOD", "GET"}, {"HTTP_ACCEPT", "application/json"}},
       "",
       kJsonNotPost,
       false,
       {"form not sent with POST: method GET"}},
      {"unreadable",
       kPage + "<FATALMSGFILE>none.htm</FATALMSGFILE>",
       {},
       "name=Ann",
       "Status: 500 Internal Server Error\nContent-type: text/html\n\n<HTML>\n<TITLE>Load "
       "Failure</TITLE>Failed to load or locate the file specified in &lt;FatalMsgFile&gt;",
       false,
       {"cannot read the failure page (FATALMSGFILE): none.htm: No such file or directory"}},
      {"too_long_to_make",
       sorry,
       {},
       "name=" + std::string(kMaxExpandedLength, 'a'),
       "Status: 500 Internal Server Error\nContent-type: text/html\n\n<HTML>\n<TITLE>Mail send "
       "error</TITLE>Your message body is over 15k (15360 bytes).  Please trim down in "
       "&lt;msgbody&gt; and/or &lt;rmsgbody&gt; in your template file",
       false,
       {"expanded text over 15359 characters",
        "failure page (FATALMSGFILE) not used, the built-in page went out instead: expanded text "
        "over 15359 characters"}},
  };
  for (const Case& c : cases) RunCase(c);
}

}  // namespace
}  // namespace veltrano
