#include "mail/smtp_client.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "mail/smtp_client_internal.hpp"
#include "response/catalogue.hpp"
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

Conversation Converse(ScriptedPeer& peer, const std::function<Status(SmtpClient&)>& steps,
                      std::string_view server = kServer) {
  SmtpClient client(peer, std::string(server), {std::chrono::milliseconds(100)});
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
// next command; replies that are not examined do not stop the mail.
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
      {"refused_greeting_not_examined", "GREETING", {"554 busy\r\n"}},
      {"greeting_without_code_not_examined", "GREETING", {"hello\r\n"}},
      {"refused_recipient_not_examined", "RCPT", {"550 no such user\r\n"}},
      {"recipient_reply_without_code_not_examined", "RCPT", {"queued fine\r\n"}},
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

// A failure at any examined reply ends the mail with the conversation so far
// as the page. A reply whose last line has no three-digit code is no answer,
// so a mail it "accepts" does not count as sent.
TEST(SmtpClientTest, FailureEndsTheMailWithTheTranscript) {
  constexpr FailureKind kConnect = FailureKind::kSmtpConnect, kRefused = FailureKind::kSmtpRefused;
  // Every piece arrives well within the time-out, the whole reply does not:
  // the bound is on the reply, not on each piece.
  PeerAction trickle{{}, PeerAction::kTalk, std::chrono::milliseconds(10)};
  for (const char* piece : {"250-a\r\n", "250-b\r\n", "250 c\r\n"}) {
    for (const char* p = piece; *p; ++p) trickle.chunks.emplace_back(1, *p);
  }
  // clang-format off
  const struct {
    const char* name;
    const char* key;
    PeerAction action;
    FailureKind kind;
    bool bodySent;
    std::string transcriptTail;
  } cases[] = {
      {"helo_refused", "HELO", Reply("554 go away\r\n"), kConnect, false,
       "220 test.invalid ready\r\nHELO client.test\r\n\nError occured while communicating with "
       "the mail server (SENDTO's HELO).  The mail server returned <p>554 go away\r\n<p> "},
      {"helo_without_code", "HELO", Reply("25O ok\r\n"), kConnect, false,
       "The mail server returned <p>25O ok\r\n<p> "},
      {"closed_before_greeting", "GREETING", CloseAfter(), kConnect, false,
       "HELO client.test\r\n\nError occured while communicating with the mail server (SENDTO's "
       "HELO).  The mail server returned <p><p> "},
      {"helo_never_answered", "HELO", Silent(), kConnect, false,
       "The mail server returned <p><p> "},
      {"helo_cut_off", "HELO", CloseAfter({"250-vm\r\n"}), kConnect, false,
       "The mail server returned <p>250-vm\r\n<p> "},
      {"reply_trickles_past_the_time_out", "HELO", trickle, kConnect, false, "<p> "},
      {"reply_over_64_kib", "HELO", Reply(std::string(70000, '9') + "\r\n"), kConnect, false,
       "<p> "},
      {"mail_from_refused", "MAIL", Reply("550 <x> & you\r\n"), kRefused, false,
       "MAIL FROM:&lt;form@example.org&gt;\r\n\nError occured while communicating with the mail "
       "server (SENDTO's MAIL FROM).  The mail server returned<p>550 &lt;x&gt; &amp; you\r\n.<p> "},
      {"mail_from_without_code", "MAIL", Reply("hello\r\n"), kRefused, false,
       "The mail server returned<p>hello\r\n.<p> "},
      {"mail_from_closed", "MAIL", CloseAfter(), kRefused, false,
       "The mail server returned<p>.<p> "},
      {"mail_from_connection_failed", "MAIL", FailAfter({"25"}), kRefused, false,
       "The mail server returned<p>25.<p> "},
      {"data_refused", "DATA", Reply("554 no valid recipients\r\n"), kRefused, false,
       "DATA\r\n554 no valid recipients\r\nRSET\r\n250 ok\r\n"},
      {"data_without_code", "DATA", Reply("queued fine\r\n"), kRefused, false,
       "DATA\r\nqueued fine\r\nRSET\r\n250 ok\r\n"},
      {"data_accepted_but_not_354", "DATA", Reply("250 ok\r\n"), kRefused, false,
       "DATA\r\n250 ok\r\nRSET\r\n250 ok\r\n"},
      {"data_closed", "DATA", CloseAfter(), kRefused, false,
       "RCPT TO:&lt;ann@example.org&gt;\r\n250 ok\r\nDATA\r\n"},
      {"end_of_data_refused", ".", Reply("552 too big\r\n"), kRefused, true,
       "\r\n.\r\n552 too big\r\nRSET\r\n250 ok\r\n"},
      {"end_of_data_deferred", ".", Reply("451 try later\r\n"), kRefused, true,
       "\r\n.\r\n451 try later\r\nRSET\r\n250 ok\r\n"},
      {"end_of_data_without_code", ".", Reply("25O ok\r\n"), kRefused, true,
       "\r\n.\r\n25O ok\r\nRSET\r\n250 ok\r\n"},
      {"end_of_data_never_answered", ".", Silent(), kRefused, true,
       "DATA\r\n354 go ahead\r\n\r\n.\r\n"},
      {"end_of_data_connection_failed", ".", FailAfter(), kRefused, true,
       "DATA\r\n354 go ahead\r\n\r\n.\r\n"},
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
    EXPECT_NE(c.failure->detail.find("server mx.test: "), std::string::npos) << c.failure->detail;
    EXPECT_TRUE(c.transcript.ends_with(p.transcriptTail)) << c.transcript;
    EXPECT_EQ(c.wire.find("Subject:") != std::string::npos, p.bodySent) << c.wire;
    EXPECT_EQ(c.wire.find("QUIT"), std::string::npos);
  };
  for (const auto& p : cases) check(p);
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
      {"250 ok\r\n", 250}, {"250\r\n", 250}, {"  220 hi\n", 220},
      {"250-a\r\n250 b\r\n", 250}, {"250-a\n354 b\n", 354},
      {"99999999999 x\r\n", 1000000000},  // clamped, still a refusal
      {"250-a\r\n", std::nullopt}, {"250 ok", std::nullopt}, {"250 ok\r", std::nullopt},
      {"250-a\r\nxyz-\r\n", std::nullopt},
      // No three-digit code on the final line: complete, but no answer.
      {"hello\r\n", -1}, {"25O ok\r\n", -1}, {"queued fine\r\n", -1}, {"25 ok\r\n", -1},
      {"250-a\r\nok\r\n", -1}, {"\r\n", -1},
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
