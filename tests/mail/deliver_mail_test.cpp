#include "mail/deliver_mail.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>

#include "response/response.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"
#include "support/scripted_smtp_server.hpp"

namespace veltrano {
namespace {

using testing::ScriptedSmtpServer;

FormField Field(const char* name, std::optional<std::string> value, bool sendTo,
                bool respondTo = false) {
  FormField f;
  f.name = name;
  f.value = std::move(value);
  f.sendTo = sendTo;
  f.respondTo = respondTo;
  return f;
}

// The mail texts of a conversation (what followed each DATA up to the
// end-of-data mark), without their Message-ID lines.
std::vector<std::string> MailTexts(const std::string& wire) {
  static const std::regex id(R"(Message-ID: <[^>]*>\r\n)");
  std::vector<std::string> mails;
  for (std::size_t at = 0; (at = wire.find("DATA\r\n", at)) != std::string::npos;) {
    at += 6;
    std::size_t end = wire.find("\r\n.\r\n", at);
    if (end == std::string::npos) break;
    mails.push_back(std::regex_replace(wire.substr(at, end + 2 - at), id, ""));
    at = end;
  }
  return mails;
}

std::vector<std::string> Recipients(const std::string& wire) {
  std::vector<std::string> out;
  static const std::regex rcpt(R"(RCPT TO:<([^>]*)>\r\n)");
  for (std::sregex_iterator it(wire.begin(), wire.end(), rcpt), end; it != end; ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

std::string Header(const std::string& from, const std::string& subject, const std::string& to,
                   const std::string& extra) {
  return "From: " + from + "\r\nSubject: " + subject + "\r\nTo: " + to +
         "\r\nbcc: \r\nX-Mailer: 2.1\r\nDate: Sat, 07 Mar 1998 14:05:09 +0100\r\n" +
         (extra.empty() ? "" : extra + "\r\n") + "\r\n";
}

struct Delivery {
  std::string wire;
  int connections = 0;
  std::optional<FatalError> fatal;
};

Delivery Deliver(RequestContext& ctx, ScriptedSmtpServer& server) {
  Delivery d;
  {
    SmtpClient smtp(ctx.system.clock);
    PgpEncryptor pgp(ctx.system.env);
    try {
      DeliverMail(ctx, smtp, pgp);
      smtp.Quit();
    } catch (const FatalError& e) {
      d.fatal = e;
    }
  }
  d.wire = server.Finish();
  d.connections = server.connections();
  return d;
}

TEST(DeliverMailTest, SendsEveryGroupInOrderOverOneConnection) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  testing::TempDir dir;
  const std::string longAddress = std::string(140, 'l') + "@example.org";
  dir.Write("list.txt", "x@example.org\r\n\n  Y@Example.org \t\n" + longAddress + "\n\n");

  testing::FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.smtpServer = server.address();
  ctx.sender = "form@example.org";
  ctx.subject = "Contact";
  ctx.messageBody = "Hello\n.\nbye";
  ctx.mailHeader = "X-Form: contact";
  ctx.responseSubject = "Thanks";
  ctx.responseBody = "We got it\n.x";
  ctx.responseMailHeader = "Reply-To: boss@example.org";
  ctx.addressFile = dir.path() + "/list.txt";
  ctx.fields = {Field("name", "Ann", false), Field("email", "Ann@Example.ORG", true, true),
                Field("boss", "Boss@Example.org", true), Field("other", std::nullopt, true),
                Field("cc", std::nullopt, false, true)};

  Delivery d = Deliver(ctx, server);
  ASSERT_FALSE(d.fatal) << d.fatal->message;
  EXPECT_EQ(d.connections, 1);
  EXPECT_EQ(d.wire.find("HELO"), d.wire.rfind("HELO"));
  EXPECT_EQ(Recipients(d.wire),
            (std::vector<std::string>{"ann@example.org", "boss@example.org", "x@example.org",
                                      "y@example.org", longAddress, "ann@example.org"}));
  // Each body is followed by CR LF and then the end-of-data mark.
  const std::string mainBody = "Hello\r\n..\r\nbye\r\n\r\n";
  EXPECT_EQ(
      MailTexts(d.wire),
      (std::vector<std::string>{
          Header("form@example.org", "Contact", "ann@example.org", "X-Form: contact") + mainBody,
          Header("form@example.org", "Contact", "boss@example.org", "X-Form: contact") + mainBody,
          Header("form@example.org", "Contact", "", "X-Form: contact") + mainBody,
          Header("form@example.org", "Thanks", "ann@example.org", "Reply-To: boss@example.org") +
              "We got it\r\n..x\r\n\r\n"}));
  // Mailing a field lower-cases its value for every later use.
  EXPECT_EQ(ctx.fields[1].value, "ann@example.org");
  EXPECT_EQ(ctx.fields[2].value, "boss@example.org");
  EXPECT_EQ(ctx.fields[0].value, "Ann");
  EXPECT_EQ(ctx.addressFile, dir.path() + "/list.txt");
}

struct DeliveryCase {
  const char* name;
  std::function<void(RequestContext&, const testing::TempDir&)> setup;
  std::vector<std::string> recipients;
  std::vector<std::string> subjects;  // of the mails sent, in order
  int connections;
  std::optional<std::optional<std::string>> fatalTitle;  // outer none: no fatal page
  friend void PrintTo(const DeliveryCase& c, std::ostream* os) { *os << c.name; }
};

class DeliveryTest : public ::testing::TestWithParam<DeliveryCase> {};

TEST_P(DeliveryTest, SendsTheMailsTheTemplateAsksFor) {
  const DeliveryCase& p = GetParam();
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  testing::TempDir dir;
  testing::FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.smtpServer = server.address();
  ctx.sender = "form@example.org";
  ctx.subject = "Main";
  ctx.messageBody = "main body";
  ctx.fields = {Field("email", "ann@example.org", true, true)};
  p.setup(ctx, dir);

  Delivery d = Deliver(ctx, server);
  if (p.fatalTitle) {
    ASSERT_TRUE(d.fatal);
    EXPECT_EQ(d.fatal->title, *p.fatalTitle) << d.fatal->message;
  } else {
    EXPECT_FALSE(d.fatal) << d.fatal->message;
  }
  EXPECT_EQ(Recipients(d.wire), p.recipients);
  std::vector<std::string> subjects;
  for (const std::string& mail : MailTexts(d.wire)) {
    std::size_t at = mail.find("Subject: ") + 9;
    subjects.push_back(mail.substr(at, mail.find("\r\n", at) - at));
  }
  EXPECT_EQ(subjects, p.subjects);
  EXPECT_EQ(d.connections, p.connections);
}

using Ctx = RequestContext;
using Dir = testing::TempDir;
using Strings = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Templates, DeliveryTest,
    ::testing::Values(DeliveryCase{"no_smtpserver_sends_nothing",
                                   [](Ctx& c, const Dir& d) {
                                     c.smtpServer.reset();
                                     c.responseBody = "r";
                                     d.Write("list.txt", "x@example.org\n");
                                     c.addressFile = d.path() + "/list.txt";
                                   },
                                   {},
                                   {},
                                   0,
                                   std::nullopt},
                      DeliveryCase{"no_mail_no_connection",
                                   [](Ctx& c, const Dir&) { c.fields[0].sendTo = false; },
                                   {},
                                   {},
                                   0,
                                   std::nullopt},
                      DeliveryCase{"rsubject_alone_sends_no_response",
                                   [](Ctx& c, const Dir&) { c.responseSubject = "R"; },
                                   {"ann@example.org"},
                                   {"Main"},
                                   1,
                                   std::nullopt},
                      DeliveryCase{"rmsgbody_alone_reuses_main_texts",
                                   [](Ctx& c, const Dir&) { c.responseBody = "unused"; },
                                   {"ann@example.org", "ann@example.org"},
                                   {"Main", "Main"},
                                   1,
                                   std::nullopt},
                      DeliveryCase{"empty_address_file_mail_dropped",
                                   [](Ctx& c, const Dir& d) {
                                     c.fields[0].sendTo = false;
                                     d.Write("list.txt", "\n  \n\n");
                                     c.addressFile = d.path() + "/list.txt";
                                   },
                                   {},
                                   {},
                                   1,
                                   std::nullopt},
                      DeliveryCase{
                          "missing_address_file",
                          [](Ctx& c, const Dir& d) { c.addressFile = d.path() + "/none.txt"; },
                          {"ann@example.org"},
                          {"Main"},
                          1,
                          std::optional<std::string>("Veltrano AdrFile error")},
                      DeliveryCase{"pgp_without_armour_sends_no_text",
                                   [](Ctx& c, const Dir&) { c.fields[0].pgpKeyId = "0x1234"; },
                                   {"ann@example.org"},
                                   {},
                                   1,
                                   std::optional<std::string>()},
                      // A value of spaces is trimmed to nothing: no address,
                      // so no mail (RCPT TO:<> would get the DATA refused).
                      DeliveryCase{"blank_value_gets_no_mail",
                                   [](Ctx& c, const Dir&) {
                                     c.fields[0].value = "";
                                     c.responseBody = "r";
                                   },
                                   {},
                                   {},
                                   0,
                                   std::nullopt},
                      DeliveryCase{"no_sender_cannot_mail",
                                   [](Ctx& c, const Dir&) { c.sender.reset(); },
                                   {},
                                   {},
                                   0,
                                   std::optional<std::string>()},
                      DeliveryCase{"no_subject_cannot_mail",
                                   [](Ctx& c, const Dir&) { c.subject.reset(); },
                                   {"ann@example.org"},
                                   {},
                                   1,
                                   std::optional<std::string>()}),
    [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> Senders(const std::string& wire) {
  std::vector<std::string> out;
  static const std::regex from(R"(MAIL FROM:<([^>]*)>\r\n)");
  for (std::sregex_iterator it(wire.begin(), wire.end(), from), end; it != end; ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

// SUBJECT and MSGBODY are expanded before the first recipient and keep the
// visitor's letter case; SENDER, RSUBJECT and RMSGBODY are expanded later and
// see the value as the earlier mails lower-cased it.
TEST(DeliverMailTest, LaterExpansionsSeeTheLowerCasedValue) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  testing::TempDir dir;
  dir.Write("list.txt", "x@example.org\n");
  testing::FakeSystem fake;
  RequestContext ctx(fake.system);
  ctx.smtpServer = server.address();
  ctx.sender = "$email$";
  ctx.subject = "S $email$";
  ctx.messageBody = "M $email$";
  ctx.responseSubject = "R $email$";
  ctx.responseBody = "B $email$";
  ctx.addressFile = dir.path() + "/list.txt";
  ctx.fields = {Field("email", "Ann@Example.ORG", true, true)};

  Delivery d = Deliver(ctx, server);
  ASSERT_FALSE(d.fatal) << d.fatal->message;
  EXPECT_EQ(Senders(d.wire), (Strings{"Ann@Example.ORG", "ann@example.org", "ann@example.org"}));
  const std::string lower = "ann@example.org";
  EXPECT_EQ(MailTexts(d.wire),
            (Strings{Header("Ann@Example.ORG", "S Ann@Example.ORG", lower, "") +
                         "M Ann@Example.ORG\r\n\r\n",
                     Header(lower, "S Ann@Example.ORG", "", "") + "M Ann@Example.ORG\r\n\r\n",
                     Header(lower, "R " + lower, lower, "") + "B " + lower + "\r\n\r\n"}));
}

// Sets PATH for the test process, where pgp.exe is looked for.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& front) : old_(std::getenv("PATH")) {
    ::setenv("PATH", (front + ":" + old_).c_str(), 1);
  }
  ~ScopedPath() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

// Only main mails to fields with a key are encrypted; the other main mail,
// the address-file mail and the response mail (whatever key its field has)
// go out plain. The armour passes through the same wire preparation.
TEST(DeliverMailTest, EncryptsOnlyTheMainMailsOfKeyedFields) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  testing::TempDir bin, tmp, dir;
  bin.Write("pgp.exe",
            "#!/bin/sh\n{ echo 'BEGIN'; echo \"key $3\"; cat \"$2\"; echo; echo 'END'; } "
            "> \"$2.asc\"\n");
  std::filesystem::permissions(bin.path() + "/pgp.exe", std::filesystem::perms::owner_all);
  ScopedPath path(bin.path());
  dir.Write("list.txt", "x@example.org\n");

  testing::FakeSystem fake;
  fake.env.vars["TMP"] = tmp.path();
  RequestContext ctx(fake.system);
  ctx.smtpServer = server.address();
  ctx.sender = "form@example.org";
  ctx.subject = "S";
  ctx.messageBody = "Hi\n.\nbye";
  ctx.responseBody = "unused";
  ctx.addressFile = dir.path() + "/list.txt";
  ctx.fields = {Field("a", "a@example.org", true), Field("b", "b@example.org", true),
                Field("c", "c@example.org", false, true)};
  ctx.fields[0].pgpKeyId = "K1";
  ctx.fields[2].pgpKeyId = "K3";

  Delivery d = Deliver(ctx, server);
  ASSERT_FALSE(d.fatal) << d.fatal->message;
  const std::string plain = "Hi\r\n..\r\nbye\r\n\r\n";
  const std::string from = "form@example.org";
  EXPECT_EQ(MailTexts(d.wire), (Strings{Header(from, "S", "a@example.org", "") +
                                            "BEGIN\r\nkey K1\r\nHi\r\n..\r\nbye\r\nEND\r\n\r\n\r\n",
                                        Header(from, "S", "b@example.org", "") + plain,
                                        Header(from, "S", "", "") + plain,
                                        Header(from, "S", "c@example.org", "") + plain}));
  EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

}  // namespace
}  // namespace veltrano
