#include "mail/smtp_client.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <regex>

#include "platform/net.hpp"
#include "response/response.hpp"
#include "support/fake_system.hpp"
#include "support/scripted_smtp_server.hpp"
#include "text/text.hpp"

namespace veltrano {
namespace {

using testing::ClosedSmtpAddress;
using testing::ScriptedSmtpServer;
using testing::SmtpScript;

constexpr std::string_view kConnectionFailure =
    "An error occured while establishing a socketconnection.<br>\n"
    "Possible reasons include <ul>\n"
    "<li>A usable winsock.dll could not be found.\n"
    "<li>Your winsock.dll does not support 1.1 (It should unless you are using a very old "
    "version.\n"
    "<li>Veltrano could not resolve your hostname\n"
    "<li><b>Could not connect to the mail server (most likely problem)</b>\n"
    "<li>Your settings in the &lt;SMTPSERVER&gt; tag is incorrect\n"
    "</ul>";

std::string Host() {
  return platform::LocalHostName().value_or("");
}

SmtpClient::Options Quick() {
  SmtpClient::Options options;
  options.timeouts.io = std::chrono::milliseconds(400);
  options.timeouts.connect = std::chrono::milliseconds(2000);
  return options;
}

// Message-IDs carry a random part; tests compare the rest byte for byte.
std::string MaskMessageId(const std::string& wire) {
  static const std::regex id(R"(Message-ID: <\d{14}\.[0-9a-f]{16}\.\d+@[^>\r\n]+>\r\n)");
  return std::regex_replace(wire, id, "Message-ID: <ID>\r\n");
}

struct Conversation {
  std::string wire;        // bytes the server received
  std::string transcript;  // the client's transcript at the end
  std::optional<FatalError> fatal;
  int connections = 0;
};

// Runs `steps` against a server playing `script`, catching the fatal page.
Conversation Converse(ScriptedSmtpServer& server,
                      const std::function<void(SmtpClient&, const std::string&)>& steps) {
  testing::FixedClock clock;
  Conversation c;
  {
    SmtpClient client(clock, Quick());
    try {
      steps(client, server.address());
    } catch (const FatalError& e) {
      c.fatal = e;
    }
    c.transcript = client.GetTranscript();
  }
  c.wire = MaskMessageId(server.Finish());
  c.connections = server.connections();
  return c;
}

// One mail to one recipient, then QUIT; stops where the caller would.
void OneMail(SmtpClient& client, const std::string& server) {
  std::string sender = "form@example.org";
  if (!client.MailFrom(server, sender)) return;
  std::string to = "ann@example.org";
  client.RcptTo(to);
  client.MsgBody(std::string_view("Hello"), std::string_view("Hi"));
  client.Quit();
}

TEST(SmtpClientTest, ConversationAndHeaderBlockAreByteExact) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  std::string recipient = "Ann@Example.ORG";
  Conversation c = Converse(server, [&](SmtpClient& client, const std::string& address) {
    std::string sender = "  Form@Example.org \n";
    ASSERT_TRUE(client.MailFrom(address, sender));
    EXPECT_EQ(sender, "Form@Example.org");
    client.RcptTo(recipient);
    client.SetExtraHeader("Reply-To: ann@example.org\n\n  \r\nX-Form: contact\n");
    // A subject value that decoded %0D%0A into a line break, and body lines
    // that would end DATA early or lose their dot.
    client.MsgBody(std::string_view(".\nHello\r\n.\n..x\rbye\n."),
                   std::string_view("Order\r\nBcc: victim@example.org\n"));
    EXPECT_EQ(client.Quit(), 221);
  });
  ASSERT_FALSE(c.fatal) << c.fatal->message;
  EXPECT_EQ(recipient, "ann@example.org");
  EXPECT_EQ(c.wire, "HELO " + Host() +
                        "\r\n"
                        "MAIL FROM:<Form@Example.org>\r\n"
                        "RCPT TO:<ann@example.org>\r\n"
                        "DATA\r\n"
                        "From: Form@Example.org\r\n"
                        "Subject: Order Bcc: victim@example.org\r\n"
                        "To: ann@example.org\r\n"
                        "bcc: \r\n"
                        "X-Mailer: 2.1\r\n"
                        "Date: Sat, 07 Mar 1998 14:05:09 +0100\r\n"
                        "Message-ID: <ID>\r\n"
                        "Reply-To: ann@example.org\r\n"
                        "X-Form: contact\r\n"
                        "\r\n"
                        "..\r\nHello\r\n..\r\n...x\r\nbye\r\n..\r\n"
                        "\r\n.\r\n"
                        "QUIT\r\n");
  EXPECT_EQ(c.transcript,
            "220 test.invalid ready\r\n"
            "HELO " +
                Host() +
                "\r\n250 ok\r\n"
                "MAIL FROM:&lt;Form@Example.org&gt;\r\n250 ok\r\n"
                "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\n"
                "DATA\r\n354 go ahead\r\n"
                "\r\n.\r\n250 queued\r\n"
                "QUIT\r\n221 bye\r\n");
}

TEST(SmtpClientTest, MailsShareOneConnectionAndBlindCopiesStayHidden) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Conversation c = Converse(server, [](SmtpClient& client, const std::string& address) {
    std::string sender = "form@example.org";
    ASSERT_TRUE(client.MailFrom(address, sender));
    std::string a = "a@example.org", b = "B@example.org";
    client.RcptTo(a);
    client.RcptTo(b);
    client.MsgBody(std::string_view("one"), std::string_view("s"));
    client.ClearToList();
    ASSERT_TRUE(client.MailFrom(address, sender));
    std::string x = "x@example.org", y = "y@example.org";
    client.RcptBcc(x);
    client.RcptBcc(y);
    client.SetExtraHeader("Date: Mon, 1 Jan 2001 00:00:00 +0000\nmessage-id: <fixed@x>");
    client.MsgBody(std::string_view("two"), std::string_view("s"));
    // No recipient at all: the mail is dropped before DATA.
    ASSERT_TRUE(client.MailFrom(address, sender));
    client.MsgBody(std::string_view("three"), std::string_view("s"));
    client.Quit();
  });
  ASSERT_FALSE(c.fatal) << c.fatal->message;
  EXPECT_EQ(c.connections, 1);
  EXPECT_EQ(c.wire.find("HELO"), c.wire.rfind("HELO"));
  EXPECT_NE(c.wire.find("To: a@example.org, b@example.org\r\nbcc: \r\n"), std::string::npos);
  EXPECT_NE(c.wire.find("To: \r\nbcc: \r\nX-Mailer: 2.1\r\n"
                        "Date: Mon, 1 Jan 2001 00:00:00 +0000\r\nmessage-id: <fixed@x>\r\n\r\ntwo"),
            std::string::npos);
  EXPECT_NE(c.wire.find("RCPT TO:<y@example.org>\r\nDATA"), std::string::npos);
  EXPECT_NE(c.wire.find("MAIL FROM:<form@example.org>\r\nRSET\r\nQUIT\r\n"), std::string::npos);
  EXPECT_EQ(c.wire.find("three"), std::string::npos);
  EXPECT_EQ(c.transcript.find("x@example.org"), std::string::npos);  // blind copies unlisted
}

struct ExtraHeaderCase {
  const char* name;
  std::string extra;
  std::string lines;  // what follows X-Mailer up to the blank line
  friend void PrintTo(const ExtraHeaderCase& c, std::ostream* os) { *os << c.name; }
};

class ExtraHeaderTest : public ::testing::TestWithParam<ExtraHeaderCase> {};

// The administrator's header text goes out as whole header lines that can
// neither end the header block nor the mail data early.
TEST_P(ExtraHeaderTest, FollowsTheFixedLines) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  Conversation c = Converse(server, [&](SmtpClient& client, const std::string& address) {
    client.SetExtraHeader(GetParam().extra);
    OneMail(client, address);
  });
  ASSERT_FALSE(c.fatal) << c.fatal->message;
  const std::string kDate = "Date: Sat, 07 Mar 1998 14:05:09 +0100\r\n";
  const std::string kId = "Message-ID: <ID>\r\n";
  std::string want = GetParam().lines;
  for (std::size_t at; (at = want.find("{date}")) != std::string::npos;) want.replace(at, 6, kDate);
  for (std::size_t at; (at = want.find("{id}")) != std::string::npos;) want.replace(at, 4, kId);
  EXPECT_NE(c.wire.find("X-Mailer: 2.1\r\n" + want + "\r\nHello\r\n\r\n.\r\nQUIT\r\n"),
            std::string::npos)
      << c.wire;
  // One end-of-data mark, answered once: nothing ended the mail early.
  EXPECT_EQ(c.transcript.find("250 queued"), c.transcript.rfind("250 queued"));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ExtraHeaderTest,
    ::testing::Values(
        ExtraHeaderCase{"none", "", "{date}{id}"},
        ExtraHeaderCase{"one_line", "X-Form: contact", "{date}{id}X-Form: contact\r\n"},
        ExtraHeaderCase{"line_ends_and_blank_lines", "A: 1\r\n\n \t\rB: 2\n",
                        "{date}{id}A: 1\r\nB: 2\r\n"},
        ExtraHeaderCase{"own_date_and_id", "date: x\nMESSAGE-ID: <y@z>",
                        "date: x\r\nMESSAGE-ID: <y@z>\r\n"},
        ExtraHeaderCase{"field_name_inside_a_line", "X-Note: Date: x Message-ID: y",
                        "{date}{id}X-Note: Date: x Message-ID: y\r\n"},
        ExtraHeaderCase{"lone_dot_line", "A: 1\n.\nB: 2", "{date}{id}A: 1\r\n..\r\nB: 2\r\n"},
        ExtraHeaderCase{"leading_dots", ".A: 1\n..", "{date}{id}..A: 1\r\n...\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SmtpClientTest, QuitWithoutConnectionSendsNothing) {
  testing::FixedClock clock;
  SmtpClient client(clock);
  EXPECT_EQ(client.Quit(), 0);
  EXPECT_EQ(client.GetTranscript(), "");
}

struct ReplyShapeCase {
  const char* name;
  const char* key;
  std::vector<std::string> chunks;
  friend void PrintTo(const ReplyShapeCase& c, std::ostream* os) { *os << c.name; }
};

class ReplyShapeTest : public ::testing::TestWithParam<ReplyShapeCase> {};

// However a reply arrives, it is read whole and the next reply answers the
// next command.
TEST_P(ReplyShapeTest, JoinsChunksUpToTheFinalLine) {
  const ReplyShapeCase& p = GetParam();
  ScriptedSmtpServer server(SmtpScript{{p.key, {testing::Chunks(p.chunks)}}});
  SKIP_WITHOUT_SERVER(server);
  Conversation c = Converse(server, OneMail);
  ASSERT_FALSE(c.fatal) << c.fatal->message;
  std::string joined;
  for (const std::string& piece : p.chunks) joined += piece;
  EXPECT_NE(c.transcript.find(joined), std::string::npos) << c.transcript;
  EXPECT_NE(c.transcript.find("MAIL FROM:&lt;form@example.org&gt;\r\n250 ok\r\n"),
            std::string::npos)
      << c.transcript;
  EXPECT_NE(c.transcript.find("DATA\r\n354 go ahead\r\n\r\n.\r\n250 queued\r\n"), std::string::npos)
      << c.transcript;
  EXPECT_NE(c.wire.find("\r\n.\r\nQUIT\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReplyShapeTest,
    ::testing::Values(
        ReplyShapeCase{"multi_line_one_chunk", "HELO", {"250-vm\r\n250-SIZE 1000\r\n250 HELP\r\n"}},
        ReplyShapeCase{
            "continuations_in_chunks", "HELO", {"250-vm\r\n", "250-SIZE\r\n", "250 OK\r\n"}},
        ReplyShapeCase{"split_inside_lines", "MAIL", {"25", "0 o", "k\r\n"}},
        ReplyShapeCase{"cr_and_lf_apart", "RCPT", {"250 ok\r", "\n"}},
        ReplyShapeCase{"bare_lf", "HELO", {"250-a\n", "250 b\n"}},
        ReplyShapeCase{"greeting_in_pieces", "GREETING", {"220-welcome\r\n", "220 ready\r\n"}},
        ReplyShapeCase{"refused_greeting_not_examined", "GREETING", {"554 busy\r\n"}},
        ReplyShapeCase{"refused_recipient_not_examined", "RCPT", {"550 no such user\r\n"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  SmtpScript script;
  std::optional<std::string> title;  // none: MailFrom returned false
  std::string transcriptTail;        // what the transcript ends with
  bool bodySent;
  friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
};

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, EndsTheMailWithTheTranscript) {
  const FailureCase& p = GetParam();
  ScriptedSmtpServer server(p.script);
  SKIP_WITHOUT_SERVER(server);
  const auto start = std::chrono::steady_clock::now();
  Conversation c = Converse(server, OneMail);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  std::string tail = p.transcriptTail;
  for (std::size_t at; (at = tail.find("{host}")) != std::string::npos;) {
    tail.replace(at, 6, Host());
  }
  if (p.title) {
    ASSERT_TRUE(c.fatal);
    EXPECT_EQ(c.fatal->title, p.title);
    EXPECT_EQ(c.fatal->message, c.transcript);
  } else {
    EXPECT_FALSE(c.fatal);
  }
  ASSERT_GE(c.transcript.size(), tail.size()) << c.transcript;
  EXPECT_EQ(c.transcript.substr(c.transcript.size() - tail.size()), tail);
  EXPECT_EQ(c.wire.find("Subject:") != std::string::npos, p.bodySent) << c.wire;
  EXPECT_EQ(c.wire.find("QUIT"), std::string::npos);
}

using testing::CloseAfter;
using testing::Reply;
using testing::Stall;

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureTest,
    ::testing::Values(
        FailureCase{"helo_refused",
                    {{"HELO", {Reply("554 go away\r\n")}}},
                    "Socket Initialization error",
                    "220 test.invalid ready\r\nHELO {host}\r\n\nError occured while communicating "
                    "with the mail server (SENDTO's HELO).  The mail server returned "
                    "<p>554 go away\r\n<p> ",
                    false},
        FailureCase{"closed_before_greeting",
                    {{"GREETING", {CloseAfter()}}},
                    "Socket Initialization error",
                    "HELO {host}\r\n\nError occured while communicating with the mail server "
                    "(SENDTO's HELO).  The mail server returned <p><p> ",
                    false},
        FailureCase{"helo_never_answered",
                    {{"HELO", {Stall()}}},
                    "Socket Initialization error",
                    "The mail server returned <p><p> ",
                    false},
        FailureCase{"helo_cut_off",
                    {{"HELO", {CloseAfter("250-vm\r\n")}}},
                    "Socket Initialization error",
                    "The mail server returned <p>250-vm\r\n<p> ",
                    false},
        FailureCase{"mail_from_refused",
                    {{"MAIL", {Reply("550 <x> & you\r\n")}}},
                    std::nullopt,
                    "MAIL FROM:&lt;form@example.org&gt;\r\n\nError occured while communicating "
                    "with the mail server (SENDTO's MAIL FROM).  The mail server "
                    "returned<p>550 &lt;x&gt; &amp; you\r\n.<p> ",
                    false},
        FailureCase{"mail_from_closed",
                    {{"MAIL", {CloseAfter()}}},
                    std::nullopt,
                    "The mail server returned<p>.<p> ",
                    false},
        FailureCase{"data_refused",
                    {{"DATA", {Reply("554 no valid recipients\r\n")}}},
                    "SMTP Communication error",
                    "DATA\r\n554 no valid recipients\r\nRSET\r\n250 ok\r\n",
                    false},
        FailureCase{"data_closed",
                    {{"DATA", {CloseAfter()}}},
                    "SMTP Communication error",
                    "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\nDATA\r\n",
                    false},
        FailureCase{"end_of_data_refused",
                    {{".", {Reply("552 too big\r\n")}}},
                    "SMTP Communication error",
                    "\r\n.\r\n552 too big\r\nRSET\r\n250 ok\r\n",
                    true},
        FailureCase{"end_of_data_never_answered",
                    {{".", {Stall()}}},
                    "SMTP Communication error",
                    "DATA\r\n354 go ahead\r\n\r\n.\r\n",
                    true},
        // Every piece arrives well within the time-out, the whole reply
        // does not: the bound is on the reply, not on each piece.
        FailureCase{
            "reply_trickles_past_the_time_out",
            {{"HELO", {testing::Chunks({"2", "5",  "0",  "-", "a", "\r", "\n", "2", "5",  "0", "-",
                                        "b", "\r", "\n", "2", "5", "0",  " ",  "c", "\r", "\n"})}}},
            "Socket Initialization error",
            "<p> ",
            false},
        FailureCase{"reply_over_64_kib",
                    {{"HELO", {Reply(std::string(70000, '9') + "\r\n")}}},
                    "Socket Initialization error",
                    "<p> ",
                    false}),
    [](const auto& info) { return std::string(info.param.name); });

class InvalidAddressTest : public ::testing::TestWithParam<std::string> {};

TEST_P(InvalidAddressTest, IsNeverSent) {
  ScriptedSmtpServer server;
  SKIP_WITHOUT_SERVER(server);
  const std::string bad = GetParam();
  Conversation c = Converse(server, [&](SmtpClient& client, const std::string& address) {
    std::string sender = "form@example.org";
    ASSERT_TRUE(client.MailFrom(address, sender));
    std::string to = bad;
    client.RcptTo(to);
  });
  ASSERT_TRUE(c.fatal);
  EXPECT_EQ(c.fatal->title, "Mail send error");
  std::string lowered = bad;
  for (char& ch : lowered) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
  EXPECT_EQ(c.fatal->message, "Invalid mail address: " + HtmlEscape(lowered));
  EXPECT_EQ(c.wire.find("RCPT"), std::string::npos);

  // The same address as sender is refused before anything is sent.
  ScriptedSmtpServer second;
  Conversation s = Converse(second, [&](SmtpClient& client, const std::string& address) {
    std::string sender = bad;
    (void)client.MailFrom(address, sender);
  });
  ASSERT_TRUE(s.fatal);
  EXPECT_EQ(s.fatal->title, "Mail send error");
  EXPECT_EQ(s.connections, 0);
}

INSTANTIATE_TEST_SUITE_P(Addresses, InvalidAddressTest,
                         ::testing::Values("a@x.org>\r\nRCPT TO:<b@y.org", "a@x\nb", "a\rb@x",
                                           std::string("a\0b@x", 5), "a\x01@x", "a\x7f@x", "<a@x>",
                                           "A>b@x"));

class ConnectionFailureTest : public ::testing::TestWithParam<int> {};

TEST_P(ConnectionFailureTest, GivesTheSocketPage) {
  ClosedSmtpAddress closed;
  const std::string server = GetParam() == 0 ? closed.address() : "";
  testing::FixedClock clock;
  SmtpClient client(clock, Quick());
  std::string sender = "form@example.org";
  try {
    (void)client.MailFrom(server, sender);
    FAIL() << "no fatal page";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.title, "Socket Initialization error");
    EXPECT_EQ(e.message, kConnectionFailure);
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, ConnectionFailureTest, ::testing::Values(0, 1));

struct CodeCase {
  const char* reply;
  std::optional<int> code;
};

TEST(SmtpClientTest, ReplyIsCompleteAtItsFinalLine) {
  const CodeCase cases[] = {
      {"250 ok\r\n", 250},
      {"250\r\n", 250},
      {"250-a\r\n", std::nullopt},
      {"250-a\r\n250 b\r\n", 250},
      {"250-a\n354 b\n", 354},
      {"250 ok", std::nullopt},
      {"250 ok\r", std::nullopt},
      {"  220 hi\n", 220},
      {"abc\r\n", 0},
      {"\r\n", 0},
      {"250-a\r\nxyz-\r\n", std::nullopt},
      {"99999999999 x\r\n", 1000000000},  // clamped, still a refusal
  };
  for (const CodeCase& c : cases) {
    EXPECT_EQ(SmtpClient::CompleteReplyCode(c.reply), c.code) << "reply " << c.reply;
  }
}

TEST(SmtpClientTest, ServerTextNamesHostAndPort) {
  struct Case {
    const char* text;
    std::optional<std::pair<std::string, int>> want;
  };
  const Case cases[] = {
      {"mail.example.org", std::pair<std::string, int>{"mail.example.org", 25}},
      {"127.0.0.1:2525", std::pair<std::string, int>{"127.0.0.1", 2525}},
      {"127.0.0.1:2525\n", std::pair<std::string, int>{"127.0.0.1", 2525}},
      {"\nmx:65535", std::pair<std::string, int>{"\nmx", 65535}},
      {"mx\n", std::pair<std::string, int>{"mx\n", 25}},
      {"mx:1", std::pair<std::string, int>{"mx", 1}},
      {"mx:0", std::nullopt},
      {"mx:65536", std::nullopt},
      {"mx:", std::nullopt},
      {"mx:25x", std::nullopt},
      {"mx:-25", std::nullopt},
      {"mx:0000025", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<SmtpServerAddress> got = ParseSmtpServer(c.text);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
    if (got) {
      EXPECT_EQ(std::make_pair(got->host, int{got->port}), *c.want) << c.text;
    }
  }
}

}  // namespace
}  // namespace veltrano
