#include "mail/smtp_client.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "mail/smtp_client_internal.hpp"
#include "response/catalogue.hpp"
#include "support/fake_system.hpp"
#include "support/scripted_peer.hpp"

namespace veltrano {
namespace {

using testing::CloseAfter;
using testing::FailAfter;
using testing::PeerAction;
using testing::PeerScript;
using testing::Reply;
using testing::ScriptedPeer;
using testing::Silent;

constexpr std::string_view kServer = "mx.test";
const std::optional<std::string> kHostName = "client.test";

#define TRY(step) \
  if (Status s_ = (step); !s_) return s_

struct Conversation {
  std::string wire;        // what the server received
  std::string transcript;  // as the SMTP pages show it
  std::optional<Failure> failure;
};

SmtpClient::Options Quick() {
  SmtpClient::Options options;
  options.replyTimeout = std::chrono::milliseconds(100);
  return options;
}

Conversation Converse(ScriptedPeer& peer, const std::function<Status(SmtpClient&)>& steps,
                      std::string_view server = kServer, SmtpClient::Options options = Quick()) {
  SmtpClient client(peer, std::string(server), options);
  Conversation c;
  if (Status done = steps(client); !done) c.failure = done.failure();
  c.wire = peer.sent;
  c.transcript = TranscriptHtml(client.transcript());
  return c;
}

OutgoingMail Mail(std::vector<MailRecipient> recipients,
                  std::string text = "Subject: s\r\n\r\nHello\r\n") {
  OutgoingMail mail;
  mail.sender = "form@example.org";
  mail.recipients = std::move(recipients);
  mail.text = std::move(text);
  return mail;
}

// One mail to one recipient, then QUIT; stops where the mail phase would.
Status OneMail(SmtpClient& client) {
  TRY(client.Connect(kHostName));
  TRY(client.Send(Mail({{"ann@example.org"}})));
  client.Quit();
  return {};
}

TEST(SmtpClientTest, ConversationIsByteExact) {
  ScriptedPeer peer;
  const std::string text = "From: Form@Example.org\r\nSubject: s\r\n\r\n..\r\nHello\r\n";
  Conversation c = Converse(
      peer,
      [&](SmtpClient& client) -> Status {
        TRY(client.Connect(kHostName));
        OutgoingMail mail = Mail({{"ann@example.org"}}, text);
        mail.sender = "Form@Example.org";
        TRY(client.Send(mail));
        EXPECT_EQ(client.Quit(), 221);
        return {};
      },
      "127.0.0.1:2525\n");
  ASSERT_FALSE(c.failure) << LogText(*c.failure);
  EXPECT_EQ(c.wire,
            "HELO client.test\r\nMAIL FROM:<Form@Example.org>\r\nRCPT TO:<ann@example.org>\r\n"
            "DATA\r\n" +
                text + "\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(c.transcript,
            "220 test.invalid ready\r\nHELO client.test\r\n250 ok\r\n"
            "MAIL FROM:&lt;Form@Example.org&gt;\r\n250 ok\r\n"
            "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\nDATA\r\n354 go ahead\r\n"
            "\r\n.\r\n250 queued\r\nQUIT\r\n221 bye\r\n");
  EXPECT_EQ(peer.connectedTo, std::make_pair(std::string("127.0.0.1"), 2525));
  EXPECT_TRUE(peer.closed);
}

TEST(SmtpClientTest, MailsShareOneConnectionAndBlindCopiesStayHidden) {
  ScriptedPeer peer;
  Conversation c = Converse(peer, [](SmtpClient& client) -> Status {
    TRY(client.Connect(kHostName));
    TRY(client.Send(Mail({{"a@example.org"}, {"b@example.org"}}, "one\r\n")));
    TRY(client.Send(Mail({{"x@example.org", false}, {"y@example.org", false}}, "two\r\n")));
    TRY(client.Send(Mail({{"z@example.org", false}}, "three\r\n")));
    // No recipient at all: the mail is dropped before DATA.
    TRY(client.Send(Mail({}, "four\r\n")));
    client.Quit();
    return {};
  });
  ASSERT_FALSE(c.failure) << LogText(*c.failure);
  EXPECT_EQ(peer.connections, 1);
  EXPECT_EQ(c.wire.find("HELO"), c.wire.rfind("HELO"));
  EXPECT_NE(c.wire.find("RCPT TO:<a@example.org>\r\nRCPT TO:<b@example.org>\r\nDATA\r\none\r\n"),
            std::string::npos);
  EXPECT_NE(c.wire.find("RCPT TO:<y@example.org>\r\nDATA\r\ntwo\r\n"), std::string::npos);
  EXPECT_NE(c.wire.find("MAIL FROM:<form@example.org>\r\nRSET\r\nQUIT\r\n"), std::string::npos);
  EXPECT_EQ(c.wire.find("four"), std::string::npos);
  for (const char* blind : {"x@example.org", "y@example.org", "z@example.org"}) {
    EXPECT_EQ(c.transcript.find(blind), std::string::npos) << blind;
  }
}

// However a reply arrives, it is read whole and the next reply answers the
// next command.
TEST(SmtpClientTest, ReplyIsReadWholeFromAnyChunks) {
  const struct {
    const char* name;
    const char* key;
    std::vector<std::string> chunks;
  } cases[] = {
      {"multi_line_one_chunk", "HELO", {"250-vm\r\n250-SIZE 1000\r\n250 HELP\r\n"}},
      {"continuations_in_chunks", "HELO", {"250-vm\r\n", "250-SIZE\r\n", "250 OK\r\n"}},
      {"split_inside_lines", "MAIL", {"25", "0 o", "k\r\n"}},
      {"cr_and_lf_apart", "RCPT", {"250 ok\r", "\n"}},
      {"bare_lf", "HELO", {"250-a\n", "250 b\n"}},
      {"longer_than_one_receive", "HELO", {"250-" + std::string(1200, 'x') + "\r\n250 ok\r\n"}},
      {"greeting_in_pieces", "GREETING", {"220-welcome\r\n", "220 ready\r\n"}},
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    ScriptedPeer peer(PeerScript{{p.key, {PeerAction{p.chunks}}}});
    Conversation c = Converse(peer, OneMail);
    ASSERT_FALSE(c.failure) << LogText(*c.failure);
    std::string joined;
    for (const std::string& piece : p.chunks) joined += piece;
    EXPECT_NE(c.transcript.find(joined), std::string::npos) << c.transcript;
    // The next reply answered the next command, up to the end.
    EXPECT_TRUE(c.transcript.ends_with(
        "DATA\r\n354 go ahead\r\n\r\n.\r\n250 queued\r\nQUIT\r\n221 bye\r\n"))
        << c.transcript;
    EXPECT_NE(c.wire.find("HELO client.test\r\n"), std::string::npos);
    EXPECT_NE(c.wire.find("\r\n.\r\nQUIT\r\n"), std::string::npos);
  };
  for (const auto& p : cases) check(p);
}

// Every reply is judged as RFC 5321 says, and one a step does not accept
// ends the mail with the conversation so far as the page; the log says what
// happened. Only what went whole is in the transcript: a fragment of a reply
// is not. A greeting other than 220 gets QUIT; a mail whose step failed
// while the conversation stayed in step gets RSET.
TEST(SmtpClientTest, EveryReplyIsJudged) {
  constexpr FailureKind kConnect = FailureKind::kSmtpConnect, kRefused = FailureKind::kSmtpRefused;
  // Every piece arrives well within the time-out, the whole reply does not:
  // the bound is on the reply, not on each piece.
  PeerAction trickle{{}, PeerAction::kTalk, std::chrono::milliseconds(10)};
  for (const char* piece : {"250-a\r\n", "250-b\r\n", "250 c\r\n"}) {
    for (const char* p = piece; *p; ++p) trickle.chunks.emplace_back(1, *p);
  }
  const std::string helo = "The mail server returned <p>";
  const std::string mail = "The mail server returned<p>";
  const std::string from = "MAIL FROM:<form@example.org>: ";
  const std::string rcpt = "RCPT TO:<ann@example.org>: ";
  const std::string rset = "RSET\r\n250 ok\r\n";
  // clang-format off
  const struct {
    const char* name;
    const char* key;
    PeerAction action;
    FailureKind kind;
    std::string detail;  // after "server mx.test: "
    std::string transcriptTail;
    bool bodySent = false;
    bool quit = false;
  } cases[] = {
      {"greeting_refused", "GREETING", Reply("554 busy\r\n"), kConnect,
       "greeting: refused: 554 busy", "554 busy\r\nQUIT\r\n221 bye\r\n", false, true},
      {"greeting_not_220", "GREETING", Reply("250 hi\r\n"), kConnect,
       "greeting: unexpected reply: 250 hi", "250 hi\r\nQUIT\r\n221 bye\r\n", false, true},
      {"greeting_malformed", "GREETING", Reply("hello\r\n"), kConnect,
       "greeting: malformed reply: hello", "hello\r\nQUIT\r\n221 bye\r\n", false, true},
      {"no_greeting_closed", "GREETING", CloseAfter({"220 "}), kConnect,
       "no greeting: connection closed", ""},
      {"no_greeting_silent", "GREETING", Silent(), kConnect,
       "no greeting: no reply within 100 ms", ""},
      {"helo_refused", "HELO", Reply("554 go away\r\n"), kConnect, "HELO: refused: 554 go away",
       "220 test.invalid ready\r\nHELO client.test\r\n\nError occured while communicating with "
       "the mail server (SENDTO's HELO).  The mail server returned <p>554 go away\r\n<p> "},
      {"helo_without_code", "HELO", Reply("25O ok\r\n"), kConnect,
       "HELO: malformed reply: 25O ok", helo + "25O ok\r\n<p> "},
      {"helo_never_answered", "HELO", Silent(), kConnect, "HELO: no reply within 100 ms",
       "HELO client.test\r\n\nError occured while communicating with the mail server (SENDTO's "
       "HELO).  The mail server returned <p><p> "},
      {"helo_cut_off", "HELO", CloseAfter({"250-vm\r\n"}), kConnect, "HELO: connection closed",
       helo + "<p> "},
      {"reply_trickles_past_the_time_out", "HELO", trickle, kConnect,
       "HELO: no reply within 100 ms", helo + "<p> "},
      {"reply_over_64_kib", "HELO", Reply(std::string(70000, '9') + "\r\n"), kConnect,
       "HELO: reply over 64 KiB", helo + "<p> "},
      {"mail_from_refused", "MAIL", Reply("550 <x> & you\r\n"), kRefused,
       from + "refused: 550 <x> & you",
       "MAIL FROM:&lt;form@example.org&gt;\r\n\nError occured while communicating with the mail "
       "server (SENDTO's MAIL FROM).  The mail server returned<p>550 &lt;x&gt; &amp; you\r\n.<p> "},
      {"mail_from_354", "MAIL", Reply("354 go ahead\r\n"), kRefused,
       from + "unexpected reply: 354 go ahead", mail + "354 go ahead\r\n.<p> "},
      {"mail_from_without_code", "MAIL", Reply("hello\r\n"), kRefused,
       from + "malformed reply: hello", mail + "hello\r\n.<p> "},
      {"mail_from_closed", "MAIL", CloseAfter(), kRefused, from + "connection closed",
       mail + ".<p> "},
      {"mail_from_connection_failed", "MAIL", FailAfter({"25"}), kRefused,
       from + "connection failed", mail + ".<p> "},
      {"rcpt_1xx", "RCPT", Reply("150 hm\r\n"), kRefused, rcpt + "unexpected reply: 150 hm",
       "RCPT TO:&lt;ann@example.org&gt;\r\n150 hm\r\n" + rset},
      {"rcpt_never_answered", "RCPT", Silent(), kRefused, rcpt + "no reply within 100 ms",
       "RCPT TO:&lt;ann@example.org&gt;\r\n"},
      {"data_refused", "DATA", Reply("554 no valid recipients\r\n"), kRefused,
       "DATA: refused: 554 no valid recipients", "DATA\r\n554 no valid recipients\r\n" + rset},
      {"data_without_code", "DATA", Reply("queued fine\r\n"), kRefused,
       "DATA: malformed reply: queued fine", "DATA\r\nqueued fine\r\n" + rset},
      {"data_accepted_but_not_354", "DATA", Reply("250 ok\r\n"), kRefused,
       "DATA: unexpected reply: 250 ok", "DATA\r\n250 ok\r\n" + rset},
      {"data_closed", "DATA", CloseAfter(), kRefused, "DATA: connection closed",
       "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\nDATA\r\n"},
      {"end_of_data_refused", ".", Reply("552 too big\r\n"), kRefused,
       "end of data: refused: 552 too big", "\r\n.\r\n552 too big\r\n" + rset, true},
      {"end_of_data_deferred", ".", Reply("451 try later\r\n"), kRefused,
       "end of data: refused: 451 try later", "\r\n.\r\n451 try later\r\n" + rset, true},
      {"end_of_data_not_250", ".", Reply("251 ok\r\n"), kRefused,
       "end of data: unexpected reply: 251 ok", "\r\n.\r\n251 ok\r\n" + rset, true},
      {"end_of_data_without_code", ".", Reply("25O ok\r\n"), kRefused,
       "end of data: malformed reply: 25O ok", "\r\n.\r\n25O ok\r\n" + rset, true},
      {"end_of_data_never_answered", ".", Silent(), kRefused,
       "end of data: no reply within 100 ms", "DATA\r\n354 go ahead\r\n\r\n.\r\n", true},
      {"end_of_data_connection_failed", ".", FailAfter(), kRefused,
       "end of data: connection failed", "DATA\r\n354 go ahead\r\n\r\n.\r\n", true},
  };
  // clang-format on
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    ScriptedPeer peer(PeerScript{{p.key, {p.action}}});
    Conversation c = Converse(peer, OneMail);
    ASSERT_TRUE(c.failure);
    EXPECT_EQ(c.failure->kind, p.kind);
    const PageText page = PageFor(*c.failure);
    EXPECT_EQ(page.title, p.kind == FailureKind::kSmtpConnect ? "Socket Initialization error"
                                                              : "SMTP Communication error");
    EXPECT_EQ(page.message, c.transcript);
    EXPECT_EQ(c.failure->detail, "server mx.test: " + p.detail);
    EXPECT_TRUE(c.transcript.ends_with(p.transcriptTail)) << c.transcript;
    EXPECT_EQ(c.wire.find("Subject:") != std::string::npos, p.bodySent) << c.wire;
    EXPECT_EQ(c.wire.find("QUIT") != std::string::npos, p.quit) << c.wire;
    EXPECT_EQ(c.wire.find("HELO") != std::string::npos, std::string_view(p.key) != "GREETING");
  };
  for (const auto& p : cases) check(p);
}

// A recipient refused for now (4xx) or for good (5xx) is left out: the mail
// goes on to the others and, if none is left, the server's refusal of DATA
// ends it; the log says which it was.
TEST(SmtpClientTest, RefusedRecipientIsLeftOut) {
  const struct {
    const char* name;
    PeerScript script;
    std::vector<MailRecipient> recipients;
    std::string failure;  // the detail; empty: the mail was accepted
    std::string notice;   // the refused recipient's, when it was
  } cases[] = {
      {"temporarily",
       {{"RCPT", {Reply("450 4.2.1 busy\r\n")}}},
       {{"a@example.org"}, {"b@example.org"}},
       "",
       "server mx.test: RCPT TO:<a@example.org>: temporarily refused: 450 4.2.1 busy"},
      {"permanently",
       {{"RCPT", {Reply("250 ok\r\n"), Reply("550 5.1.1 unknown\r\n")}}},
       {{"a@example.org"}, {"b@example.org", false}},
       "",
       "server mx.test: RCPT TO:<b@example.org>: permanently refused: 550 5.1.1 unknown"},
      {"no_one_left",
       {{"RCPT", {Reply("451 4.3.0 try later\r\n")}},
        {"DATA", {Reply("554 5.5.1 no valid recipients\r\n")}}},
       {{"a@example.org"}},
       "server mx.test: DATA: refused: 554 5.5.1 no valid recipients; before it RCPT "
       "TO:<a@example.org>: temporarily refused: 451 4.3.0 try later",
       ""},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer(c.script);
    testing::NoticeLog notices;
    SmtpClient::Options options = Quick();
    options.notices = &notices;
    Conversation result = Converse(
        peer,
        [&](SmtpClient& client) -> Status {
          TRY(client.Connect(kHostName));
          TRY(client.Send(Mail(c.recipients)));
          return {};
        },
        kServer, options);
    EXPECT_EQ(result.failure ? result.failure->detail : "", c.failure) << c.name;
    std::vector<std::pair<NoticeKind, std::string>> want;
    if (!c.notice.empty()) want.emplace_back(NoticeKind::kRcptRefused, c.notice);
    EXPECT_EQ(notices.notes, want) << c.name;
  }
}

// When the request's budget ends a wait, the log says so and names the
// step; a reply cut short and a command not sent stay out of the
// transcript. The end-of-data mark needs kEndOfDataReserve of the budget
// left, or the connection is closed without it and the server drops the
// mail.
TEST(SmtpClientTest, BudgetCutsAreToldAsSuch) {
  using std::chrono::milliseconds;
  PeerAction slowHelo{{"25", "0 ok\r\n"}, PeerAction::kTalk, milliseconds(300)};
  const struct {
    const char* name;
    PeerScript script;
    milliseconds budget;
    std::string detail;  // after "server mx.test: "
    std::string transcriptTail;
    std::string wireTail;
  } cases[] = {
      {"reply_cut",
       {{"HELO", {slowHelo}}},
       milliseconds(100),
       "HELO: no reply within the request's time budget of 100 ms",
       "HELO client.test\r\n\nError occured while communicating with the mail server (SENDTO's "
       "HELO).  The mail server returned <p><p> ",
       "HELO client.test\r\n"},
      {"send_cut",
       {{"RCPT", {FailAfter({"250 ok\r\n"})}}},
       milliseconds(0),
       "DATA: not sent within the request's time budget of 0 ms",
       "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\n",
       "RCPT TO:<ann@example.org>\r\n"},
      {"no_time_for_the_reply_to_the_mark",
       {},
       milliseconds(5000),
       "end of data: not sent, less than 10 s of the request's time budget of 5 s left for its "
       "reply; the connection was closed without it",
       "DATA\r\n354 go ahead\r\n",
       "RCPT TO:<ann@example.org>\r\nDATA\r\n"},
  };
  for (const auto& c : cases) {
    ScriptedPeer peer(c.script);
    SmtpClient::Options options = Quick();
    options.budget = platform::Deadline(c.budget);
    Conversation result = Converse(peer, OneMail, kServer, options);
    ASSERT_TRUE(result.failure) << c.name;
    EXPECT_EQ(result.failure->detail, "server mx.test: " + c.detail) << c.name;
    EXPECT_TRUE(result.transcript.ends_with(c.transcriptTail)) << c.name << result.transcript;
    EXPECT_TRUE(result.wire.ends_with(c.wireTail)) << c.name << result.wire;
  }
}

TEST(SmtpClientTest, ConnectionFailureGivesTheSocketPage) {
  const struct {
    const char* name;
    std::string server;
    std::optional<std::string> hostName;
    std::string connectError;
  } cases[] = {
      {"refused", "mx.test", "client.test", "Connection refused"},
      {"no_local_host_name", "mx.test", std::nullopt, ""},
      {"not_a_port", "mx.test:0", "client.test", ""},
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    ScriptedPeer peer;
    peer.hostName = p.hostName;
    peer.connectError = p.connectError;
    Conversation c = Converse(
        peer,
        [&](SmtpClient& client) -> Status {
          TRY(client.Connect(p.hostName));
          ADD_FAILURE() << "connected";
          return {};
        },
        p.server);
    ASSERT_TRUE(c.failure);
    EXPECT_EQ(c.failure->kind, FailureKind::kSmtpConnect);
    const PageText page = PageFor(*c.failure);
    EXPECT_EQ(page.title, "Socket Initialization error");
    EXPECT_TRUE(page.message.starts_with(
        "An error occured while establishing a socketconnection.<br>\nPossible reasons include"))
        << page.message;
    EXPECT_NE(c.failure->detail.find("server " + p.server + ": "), std::string::npos);
    EXPECT_EQ(peer.connections, 0);
    EXPECT_EQ(peer.sent, "");
  };
  for (const auto& p : cases) check(p);
}

TEST(SmtpClientTest, QuitWithoutConnectionSendsNothing) {
  ScriptedPeer peer;
  SmtpClient client(peer, std::string(kServer));
  EXPECT_EQ(client.Quit(), 0);
  EXPECT_TRUE(client.transcript().empty());
  EXPECT_EQ(peer.connections, 0);
}

TEST(SmtpClientTest, ReplyIsCompleteAtItsFinalLine) {
  const struct {
    const char* reply;
    std::optional<int> code;
  } cases[] = {
      // clang-format off
      {"250 ok\r\n", 250}, {"250\r\n", 250}, {"220 hi\n", 220}, {"150 x\r\n", 150},
      {"250-a\r\n250 b\r\n", 250}, {"250-a\n250-b\n250 c\n", 250},
      {"250-a\r\n", std::nullopt}, {"250 ok", std::nullopt}, {"250 ok\r", std::nullopt},
      {"250-a\r\nxyz-\r\n", std::nullopt},
      // Whole, but not well formed: no answer at all.
      {"hello\r\n", -1}, {"25O ok\r\n", -1}, {"queued fine\r\n", -1}, {"25 ok\r\n", -1},
      {"250-a\r\nok\r\n", -1}, {"\r\n", -1}, {"  220 hi\n", -1}, {"2500 x\r\n", -1},
      {"99999999999 x\r\n", -1}, {"650 x\r\n", -1}, {"250-a\n354 b\n", -1},
      {"250 a\r\n250 b\r\n", -1}, {"250ok\r\n", -1},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompleteReplyCode(c.reply), c.code) << "reply " << c.reply;
  }
}

TEST(SmtpClientTest, ServerTextNamesHostAndPort) {
  using HostPort = std::pair<std::string, int>;
  const struct {
    const char* text;
    std::optional<HostPort> want;
  } cases[] = {
      // clang-format off
      {"mail.example.org", HostPort{"mail.example.org", 25}}, {"mx:1", HostPort{"mx", 1}},
      {"127.0.0.1:2525", HostPort{"127.0.0.1", 2525}},
      {"127.0.0.1:2525\n", HostPort{"127.0.0.1", 2525}},
      {"\nmx:65535", HostPort{"\nmx", 65535}}, {"mx\n", HostPort{"mx\n", 25}},
      {"a:b:26", HostPort{"a:b", 26}},
      {"mx:0", std::nullopt}, {"mx:65536", std::nullopt}, {"mx:99999", std::nullopt},
      {"mx:", std::nullopt}, {"mx:25x", std::nullopt}, {"mx:-25", std::nullopt},
      {"mx: 25", std::nullopt}, {"mx:0000025", std::nullopt},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::optional<SmtpServerAddress> got = ParseSmtpServer(c.text);
    EXPECT_EQ(got ? std::optional(HostPort(got->host, got->port)) : std::nullopt, c.want) << c.text;
  }
}

}  // namespace
}  // namespace veltrano
