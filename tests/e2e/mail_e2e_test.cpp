// Mail as the built program sends it: a form submission through a template,
// over SMTP to a scripted server on a loopback address of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <regex>

#include "support/cgi_runner.hpp"
#include "support/python_mail.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano::testing {
namespace {

// Pages and the parts every template here shares. The address list goes out
// as blind copies; "{server}" stands for the scripted server's address.
const std::string kTemplateTail =
    "<ERRMSGFILE>error.htm</ERRMSGFILE>\n"
    "<SUCCEEDMSGFILE>success.htm</SUCCEEDMSGFILE>\n";

std::string WithServer(std::string text, const std::string& server) {
  for (std::size_t at; (at = text.find("{server}")) != std::string::npos;) {
    text.replace(at, 8, server);
  }
  return text;
}

void WriteSite(const Site& site, const std::string& tpl, const std::string& server) {
  site.Write("t.tpl", WithServer(tpl, server) + kTemplateTail);
  site.Write("error.htm", "Content-type: text/html\n\nfailed: $err$\n");
  site.Write("success.htm", "Content-type: text/html\n\nsent to $owner$\n");
  site.Write("list.txt", "list1@example.org\n\nList2@Example.org\n");
}

std::vector<std::string> MailTexts(const std::string& wire) {
  static const std::regex id(R"(Message-ID: <[^>]*>\r\n)");
  static const std::regex date(R"(Date: [^\r\n]*\r\n)");
  std::vector<std::string> mails;
  for (std::size_t at = 0; (at = wire.find("DATA\r\n", at)) != std::string::npos;) {
    at += 6;
    std::size_t end = wire.find("\r\n.\r\n", at);
    if (end == std::string::npos) break;
    std::string text = wire.substr(at, end + 2 - at);
    mails.push_back(std::regex_replace(std::regex_replace(text, id, ""), date, ""));
    at = end;
  }
  return mails;
}

const std::string kFullTemplate =
    "<SMTPSERVER>{server}</SMTPSERVER>\n"
    "<SENDER>form@example.org</SENDER>\n"
    "<SUBJECT>Contact: $topic$</SUBJECT>\n"
    "<MSGBODY>From $name$:\n$message$\n</MSGBODY>\n"
    "<MAILHDR>X-Form: contact</MAILHDR>\n"
    "<RSUBJECT>Thanks, $name$</RSUBJECT>\n"
    "<RMSGBODY>You wrote:\n$message$</RMSGBODY>\n"
    "<ADRFILE>list.txt</ADRFILE>\n"
    "<FORMDATA>\n"
    "<NAME=\"name\" required REQUIREDERR=\"Your name, please.\">\n"
    "<NAME=\"topic\">\n"
    "<NAME=\"message\">\n"
    "<NAME=\"owner\" sendto>\n"
    "<NAME=\"copy\" sendto>\n"
    "<NAME=\"email\" respondto>\n"
    "</FORMDATA>\n";

// A subject value trying to add a header line, and message lines that
// would end DATA early ("." alone) or lose their dot (".x").
const std::string kFullBody =
    "name=Ann&topic=Hi%0D%0ABcc:+victim@example.org&message=one%0D%0A.%0D%0A.x%0D%0Aend"
    "&owner=Owner@Example.org&copy=copy@example.org&email=Ann@Example.org";

TEST(MailE2eTest, SendsEveryMailOfASubmission) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Site site;
  WriteSite(site, kFullTemplate, server.address());
  CgiResult result = RunCgi(site, PostRequest("t.tpl", kFullBody));
  const std::string wire = server.Finish();

  EXPECT_EQ(result.output, "Content-type: text/html\r\n\r\nsent to owner@example.org\r\n");
  EXPECT_EQ(server.connections(), 1);
  const std::string header =
      "From: form@example.org\r\nSubject: Contact: Hi Bcc: victim@example.org\r\n";
  // MSGBODY ends with its own line end; the framing adds CR LF before the mark.
  const std::string body = "\r\nFrom Ann:\r\none\r\n..\r\n..x\r\nend\r\n\r\n\r\n";
  EXPECT_EQ(
      MailTexts(wire),
      (std::vector<std::string>{
          header + "To: owner@example.org\r\nbcc: \r\nX-Mailer: 2.1\r\nX-Form: contact\r\n" + body,
          header + "To: copy@example.org\r\nbcc: \r\nX-Mailer: 2.1\r\nX-Form: contact\r\n" + body,
          header + "To: \r\nbcc: \r\nX-Mailer: 2.1\r\nX-Form: contact\r\n" + body,
          "From: form@example.org\r\nSubject: Thanks, Ann\r\nTo: ann@example.org\r\n"
          "bcc: \r\nX-Mailer: 2.1\r\nAuto-Submitted: auto-replied\r\n\r\nYou "
          "wrote:\r\none\r\n..\r\n..x\r\nend\r\n\r\n"}));
  EXPECT_NE(wire.find("RCPT TO:<list1@example.org>\r\nRCPT TO:<list2@example.org>\r\nDATA"),
            std::string::npos);
  EXPECT_EQ(wire.find("\nBcc"), std::string::npos);
}

// A form posted as multipart/form-data with UTF-8 text and a long line: the
// mails a reader gets carry the text as typed, on lines SMTP carries, and
// the visitor's address as Reply-To (From stays the site's own).
TEST(MailE2eTest, Utf8MultipartSubmissionReadsRight) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Site site;
  WriteSite(site,
            "<SMTPSERVER>{server}</SMTPSERVER>\n<SENDER>form@example.org</SENDER>\n"
            "<REPLYTO>$email$</REPLYTO>\n<SUBJECT>Contact: $name$</SUBJECT>\n"
            "<MSGBODY>From $name$:\n$message$\n</MSGBODY>\n"
            "<RSUBJECT>Danke, $name$</RSUBJECT>\n<RMSGBODY>You wrote:\n$message$</RMSGBODY>\n"
            "<FORMDATA>\n<NAME=\"name\">\n<NAME=\"message\">\n<NAME=\"owner\" sendto>\n"
            "<NAME=\"email\" respondto>\n</FORMDATA>\n",
            server.address());
  const std::string name = "Zo\xc3\xab \xc3\x9cnal";
  // CR LF, a lone dot line and a Ctrl-Z inside a value arrive as sent.
  const std::string message =
      "Gr\xc3\xbc\xc3\x9f\xe2\x80\x94 = ok\r\n.\r\n" + std::string(5000, 'x') + "\r\n\x1a end";
  std::string body;
  for (const auto& [field, value] :
       std::vector<std::pair<std::string, std::string>>{{"name", name},
                                                        {"message", message},
                                                        {"owner", "owner@example.org"},
                                                        {"email", "Ann@Example.org"}}) {
    body +=
        "--XyZ\r\nContent-Disposition: form-data; name=\"" + field + "\"\r\n\r\n" + value + "\r\n";
  }
  body +=
      "--XyZ\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"cv.pdf\"\r\n"
      "Content-Type: application/pdf\r\n\r\n%PDF\r\n--XyZ--\r\n";
  CgiRequest request = PostRequest("t.tpl", body);
  request.env["CONTENT_TYPE"] = "multipart/form-data; boundary=XyZ";
  CgiResult result = RunCgi(site, request);
  std::vector<ReadMail> mails = ReadMailsWithPython(server.Finish());

  EXPECT_EQ(result.output, "Content-type: text/html\r\n\r\nsent to owner@example.org\r\n");
  EXPECT_NE(result.errors.find("uploaded file not mailed, its field has no ATTACH or has a file: "
                               "field doc"),
            std::string::npos)
      << result.errors;
  EXPECT_EQ(result.errors.find("cv.pdf"), std::string::npos) << result.errors;
  ASSERT_EQ(mails.size(), 2u);
  std::string lines = message;  // as the mail's text lines have it
  for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;) lines.replace(at, 2, "\n");
  const auto crlf = [](std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
      text.replace(at, 1, "\r\n");
    }
    return text;
  };
  const struct {
    std::string subject;
    std::optional<std::string> replyTo, autoSubmitted;
    std::string body;
  } want[] = {
      {"Contact: " + name, "Ann@Example.org", std::nullopt,
       crlf("From " + name + ":\n" + lines + "\n\n\n")},
      {"Danke, " + name, std::nullopt, "auto-replied", crlf("You wrote:\n" + lines + "\n\n")},
  };
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(mails[i].Header("From"), "form@example.org");
    EXPECT_EQ(mails[i].Header("Subject"), want[i].subject);
    EXPECT_EQ(mails[i].Header("Reply-To"), want[i].replyTo);
    EXPECT_EQ(mails[i].Header("Auto-Submitted"), want[i].autoSubmitted);
    EXPECT_EQ(mails[i].charset, "utf-8");
    EXPECT_EQ(mails[i].body, want[i].body);
    EXPECT_LE(mails[i].longest, 78u);
    EXPECT_TRUE(mails[i].sevenBit);
    EXPECT_EQ(mails[i].defects, 0);
  }
}

TEST(MailE2eTest, DebugModeShowsTheConversation) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Site site;
  WriteSite(site, kFullTemplate, server.address());
  CgiResult result = RunCgi(site, PostRequest("t.tpl&debug", kFullBody));
  server.Finish();
  const std::string title = kPlain + "<TITLE>rfc821 mail transaction process</TITLE>";
  ASSERT_EQ(result.output.substr(0, title.size()), title);
  const std::string page = result.output.substr(title.size());
  EXPECT_NE(page.find("MAIL FROM:&lt;form@example.org&gt;\r\r\n250 ok\r\r\n"
                      "RCPT TO:&lt;owner@example.org&gt;"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("QUIT\r\r\n221 bye\r\r\n"), std::string::npos);
  EXPECT_EQ(page.find("list1@example.org"), std::string::npos);  // blind copies unlisted
}

// Failures that reach the visitor as pages. The address-file mail needs no
// submitted value, so these templates mail through it alone.
struct PageCase {
  const char* name;
  SmtpScript script;
  bool closedPort;
  std::string page;      // after the header: all of it, or how it starts
  std::string contains;  // empty: `page` is the whole page
  friend void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }
};

class MailPageTest : public ::testing::TestWithParam<PageCase> {};

TEST_P(MailPageTest, TellsTheVisitor) {
  const PageCase& p = GetParam();
  ScriptedSmtpServer server(p.script);
  ClosedSmtpAddress closed;
  SKIP_WITHOUT_SERVER(server);
  Site site;
  WriteSite(site,
            "<SMTPSERVER>{server}</SMTPSERVER>\n<SENDER>form@example.org</SENDER>\n"
            "<SUBJECT>s</SUBJECT>\n<MSGBODY>b</MSGBODY>\n<ADRFILE>list.txt</ADRFILE>\n"
            "<FORMDATA>\n<NAME=\"name\">\n</FORMDATA>\n",
            p.closedPort ? closed.address() : server.address());
  CgiResult result = RunCgi(site, PostRequest("t.tpl", "name=Ann"));
  server.Finish();
  EXPECT_EQ(result.exitStatus, 0);
  if (p.contains.empty()) {
    EXPECT_EQ(result.output, kPlain503 + p.page);
  } else {
    EXPECT_EQ(result.output.rfind(kPlain503 + p.page, 0), 0u) << result.output;
    EXPECT_NE(result.output.find(p.contains), std::string::npos) << result.output;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, MailPageTest,
    ::testing::Values(
        PageCase{"mail_server_down",
                 {},
                 true,
                 "<TITLE>Socket Initialization error</TITLE>"
                 "An error occured while establishing a socketconnection.<br>\r\n"
                 "Possible reasons include <ul>\r\n"
                 "<li>A usable winsock.dll could not be found.\r\n"
                 "<li>Your winsock.dll does not support 1.1 (It should unless you are using a "
                 "very old version.\r\n"
                 "<li>Veltrano could not resolve your hostname\r\n"
                 "<li><b>Could not connect to the mail server (most likely problem)</b>\r\n"
                 "<li>Your settings in the &lt;SMTPSERVER&gt; tag is incorrect\r\n"
                 "</ul>",
                 ""},
        PageCase{"data_refused",
                 {{"DATA", {Reply("554 <no> thanks\r\n")}}},
                 false,
                 "<TITLE>SMTP Communication error</TITLE>",
                 // The transcript's CR LF leaves through text mode as CR CR LF.
                 "DATA\r\r\n554 &lt;no&gt; thanks\r\r\nRSET\r\r\n250 ok\r\r\n"},
        PageCase{"mail_from_refused",
                 {{"MAIL", {Reply("553 sender refused\r\n")}}},
                 false,
                 "<TITLE>SMTP Communication error</TITLE>",
                 "The mail server returned<p>553 sender refused\r\r\n.<p> "}),
    [](const auto& info) { return std::string(info.param.name); });

// How addresses and the server's replies end a submission, or don't: its
// page, its log lines (each named by a part of it; no others), the data
// line, and what reached the server.
struct OutcomeCase {
  const char* name;
  std::string body;  // owner= (sendto), email= (respondto), reply= (REPLYTO)
  std::string list;  // the address file
  SmtpScript script;
  std::string page;                   // its start, after the header lines
  std::vector<std::string> logLines;  // parts in order, "*" between them
  bool recorded;                      // the data line was written
  std::vector<std::string> sent;      // texts the server received
  std::vector<std::string> notSent;
  std::string status = {};  // the page's Status line; none when empty
  friend void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.name; }
};

class MailOutcomeTest : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(MailOutcomeTest, PageLogAndRecord) {
  const OutcomeCase& p = GetParam();
  ScriptedSmtpServer server(p.script);
  SKIP_WITHOUT_SERVER(server);
  Site site;
  WriteSite(site,
            "<SMTPSERVER>{server}</SMTPSERVER>\n<SENDER>form@example.org</SENDER>\n"
            "<REPLYTO>$reply$</REPLYTO>\n<SUBJECT>s</SUBJECT>\n<MSGBODY>b</MSGBODY>\n"
            "<RSUBJECT>r</RSUBJECT>\n<RMSGBODY>thanks</RMSGBODY>\n<ADRFILE>list.txt</ADRFILE>\n"
            "<RECIPIENTS>@example.org</RECIPIENTS>\n"
            "<DFILE APPEND>data.txt</DFILE>\n<DFILEFORMAT>line</DFILEFORMAT>\n"
            "<FORMDATA>\n<NAME=\"owner\" sendto>\n<NAME=\"email\" respondto>\n"
            "<NAME=\"reply\">\n</FORMDATA>\n",
            server.address());
  site.Write("list.txt", p.list);
  CgiResult result = RunCgi(site, PostRequest("t.tpl", p.body));
  const std::string wire = server.Finish();

  const std::string header =
      (p.status.empty() ? "" : "Status: " + p.status + "\r\n") + "Content-type: text/html\r\n\r\n";
  EXPECT_EQ(result.output.rfind(header + p.page, 0), 0u) << result.output;
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = result.errors.find('\n', at)) != std::string::npos;
       at = end + 1) {
    lines.push_back(result.errors.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), p.logLines.size()) << result.errors;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::size_t at = 0;
    for (std::size_t from = 0, star; at != std::string::npos; from = star + 1) {
      star = p.logLines[i].find('*', from);
      at = lines[i].find(p.logLines[i].substr(from, star - from), at);
      if (star == std::string::npos) break;
    }
    EXPECT_NE(at, std::string::npos) << lines[i] << "\nwant " << p.logLines[i];
  }
  EXPECT_EQ(site.Exists("data.txt"), p.recorded);
  for (const std::string& text : p.sent) EXPECT_NE(wire.find(text), std::string::npos) << text;
  for (const std::string& text : p.notSent) EXPECT_EQ(wire.find(text), std::string::npos) << text;
}

const std::string kOverlong = std::string(3000, 'a') + "@example.org";

// Addresses refused before they are sent, and a REPLYTO that is no address;
// a refused recipient logged while its mail goes on; a response mail that
// fails after an accepted mail logged while the submission goes on, and
// alone failing it, its refused recipient named in the log.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Outcomes, MailOutcomeTest,
    ::testing::Values(
        OutcomeCase{"recipients_refuse_a_percent_route",
            "owner=evil%25evil.example@example.org&email=ann@example.org", "list@example.org\n", {},
            "<HTML>\r\n<TITLE>Mail send error</TITLE>Recipient not allowed: "
            "evil%evil.example@example.org",
            {"sendto address not in RECIPIENTS, no mail sent: field owner: "
             "evil%evil.example@example.org"},
            false, {}, {"HELO"}},
        OutcomeCase{"overlong_address_never_sent", "email=" + kOverlong, "", {},
            "<HTML>\r\n<TITLE>Mail send error</TITLE>Invalid mail address: " + kOverlong,
            {"no mail sent to an empty recipient field: owner",
             "invalid mail address not sent: over 254 octets or a local part over 64: aaa"},
            false, {}, {"RCPT", "DATA"}},
        OutcomeCase{"replyto_with_a_line_end_gives_no_header",
            "owner=o@example.org&reply=ann@example.org%0D%0ABcc:+evil@evil.test", "", {},
            "sent to o@example.org",
            {"no Reply-To header, REPLYTO is not a usable address: ann@example.org Bcc: "
             "evil@evil.test",
             "no Reply-To header",  // the address-file mail's
             "no mail sent to an empty recipient field: email"},
            true, {"RCPT TO:<o@example.org>\r\nDATA"}, {"Reply-To", "evil"}},
        OutcomeCase{"refused_blind_copy_logged", "owner=o@example.org",
            "a@example.org\nb@example.org\n",
            {{"RCPT", {Reply("250 ok\r\n"), Reply("550 no such user\r\n")}}},
            "sent to o@example.org",
            {"recipient refused by the SMTP server, the mail went on without it: server "
             "127.0.0.1:*: RCPT TO:<a@example.org>: permanently refused: 550 no such user",
             "no mail sent to an empty recipient field: email"},
            true, {"RCPT TO:<b@example.org>\r\nDATA"}, {}},
        OutcomeCase{"failed_confirmation_after_the_main_mail",
            "owner=o@example.org&email=ann@exmaple.org", "",
            {{"RCPT", {Reply("250 ok\r\n"), Reply("550 5.1.1 unknown\r\n")}},
             {"DATA", {Reply("354 go\r\n"), Reply("554 no valid recipients\r\n")}}},
            "sent to o@example.org",
            {"response mail not delivered, the submission went on (an earlier mail was "
             "accepted): to ann@exmaple.org, server 127.0.0.1:*: DATA: refused: 554 no valid "
             "recipients; before it RCPT TO:<ann@exmaple.org>: permanently refused: 550 5.1.1 "
             "unknown"},
            true, {"DATA\r\nRSET\r\nQUIT\r\n"}, {}},
        OutcomeCase{"failed_confirmation_alone", "email=ann@exmaple.org", "",
            {{"RCPT", {Reply("550 5.1.1 unknown\r\n")}},
             {"DATA", {Reply("554 no valid recipients\r\n")}}},
            "<HTML>\r\n<TITLE>SMTP Communication error</TITLE>",
            {"no mail sent to an empty recipient field: owner",
             "SMTP conversation failed: server 127.0.0.1:*: DATA: refused: 554 no valid "
             "recipients; before it RCPT TO:<ann@exmaple.org>: permanently refused: 550 5.1.1 "
             "unknown"},
            false, {}, {"QUIT"}, "503 Service Unavailable"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// Subjects as readers show them: each in its own charset, an ASCII one that
// looks like an encoded word as typed, a long ASCII one folded at spaces. An
// ASCII mail gets no MIME lines.
TEST(MailE2eTest, SubjectsReadAsTyped) {
  std::string longSubject;
  for (int i = 0; i < 12; ++i) longSubject += "Order" + std::to_string(i) + " ";
  longSubject += "end";
  std::string longEncoded = longSubject;
  std::replace(longEncoded.begin(), longEncoded.end(), ' ', '+');
  const struct {
    std::string subject, message;  // URL-encoded
    std::string subjectRead;       // UTF-8
    std::string charset;           // of the body; empty: no MIME lines
  } cases[] = {
      {"caf%E9", "Gr%C3%BC%C3%9F", "caf\xc3\xa9", "utf-8"},
      {"Order+%3D%3Futf-8%3Fb%3FSGVsbG8%3D%3F%3D+now", "plain", "Order =?utf-8?b?SGVsbG8=?= now",
       ""},
      {longEncoded, "plain", longSubject, ""},
  };
  std::string conversations;
  for (const auto& c : cases) {
    ScriptedSmtpServer server;
    SKIP_WITHOUT_SERVER(server);
    Site site;
    WriteSite(site,
              "<SMTPSERVER>{server}</SMTPSERVER>\n<SENDER>form@example.org</SENDER>\n"
              "<SUBJECT>$s$</SUBJECT>\n<MSGBODY>$m$</MSGBODY>\n"
              "<FORMDATA>\n<NAME=\"s\">\n<NAME=\"m\">\n<NAME=\"owner\" sendto>\n</FORMDATA>\n",
              server.address());
    RunCgi(site,
           PostRequest("t.tpl", "s=" + c.subject + "&m=" + c.message + "&owner=o@example.org"));
    conversations += server.Finish();
  }
  std::vector<ReadMail> mails = ReadMailsWithPython(conversations);
  ASSERT_EQ(mails.size(), std::size(cases));
  for (std::size_t i = 0; i < mails.size(); ++i) {
    SCOPED_TRACE(cases[i].subjectRead);
    EXPECT_EQ(mails[i].Header("Subject"), cases[i].subjectRead);
    EXPECT_EQ(mails[i].charset, cases[i].charset);
    EXPECT_EQ(mails[i].Header("MIME-Version").has_value(), !cases[i].charset.empty());
    EXPECT_LE(mails[i].longest, 78u);
    EXPECT_EQ(mails[i].defects, 0);
  }
  EXPECT_NE(mails[0].body.find("Gr\xc3\xbc\xc3\x9f\r\n"), std::string::npos) << mails[0].body;
}

}  // namespace
}  // namespace veltrano::testing
