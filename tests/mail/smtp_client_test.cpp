#include "mail/smtp_client.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "response/catalogue.hpp"
#include "support/fake_system.hpp"
#include "support/scripted_peer.hpp"
#include "text/text.hpp"

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

#define TRY(step) \
  if (Status s_ = (step); !s_) return s_

// Message-IDs carry a random part; tests compare the rest byte for byte.
const std::regex kMessageId(R"(Message-ID: <\d{14}\.[0-9a-f]{16}\.(\d+)@client\.test>\r\n)");

struct Conversation {
  std::string wire;        // what the server received, Message-IDs masked
  std::string transcript;  // as the SMTP pages show it
  std::optional<Failure> failure;
};

Conversation Converse(ScriptedPeer& peer, const std::function<Status(SmtpClient&)>& steps) {
  testing::FixedClock clock;
  SmtpClient client(peer, clock, {std::chrono::milliseconds(100)});
  Conversation c;
  if (Status done = steps(client); !done) c.failure = done.failure();
  c.wire = std::regex_replace(peer.sent, kMessageId, "Message-ID: <ID>\r\n");
  c.transcript = TranscriptHtml(client.transcript());
  return c;
}

// One mail to one recipient, then QUIT; stops where the mail phase would.
Status OneMail(SmtpClient& client) {
  TRY(client.MailFrom(kServer, "form@example.org"));
  TRY(client.RcptTo("ann@example.org"));
  TRY(client.MsgBody("Hello", "Hi"));
  client.Quit();
  return {};
}

TEST(SmtpClientTest, ConversationAndHeaderBlockAreByteExact) {
  ScriptedPeer peer;
  Conversation c = Converse(peer, [](SmtpClient& client) -> Status {
    TRY(client.MailFrom("127.0.0.1:2525\n", "  Form@Example.org \n"));
    TRY(client.RcptTo("Ann@Example.ORG"));
    client.SetExtraHeader("Reply-To: ann@example.org\n\n  \r\nX-Form: contact\n");
    // A subject value that decoded %0D%0A into a line break, and body lines
    // that would end DATA early or lose their dot.
    TRY(client.MsgBody(".\nHello\r\n.\n..x\rbye\n.", "Order\r\nBcc: victim@example.org\n"));
    EXPECT_EQ(client.Quit(), 221);
    return {};
  });
  ASSERT_FALSE(c.failure) << LogText(*c.failure);
  EXPECT_EQ(c.wire,
            "HELO client.test\r\nMAIL FROM:<Form@Example.org>\r\nRCPT TO:<ann@example.org>\r\n"
            "DATA\r\nFrom: Form@Example.org\r\nSubject: Order Bcc: victim@example.org\r\n"
            "To: ann@example.org\r\nbcc: \r\nX-Mailer: 2.1\r\n"
            "Date: Sat, 07 Mar 1998 14:05:09 +0100\r\nMessage-ID: <ID>\r\n"
            "Reply-To: ann@example.org\r\nX-Form: contact\r\n\r\n"
            "..\r\nHello\r\n..\r\n...x\r\nbye\r\n..\r\n\r\n.\r\nQUIT\r\n");
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
    TRY(client.MailFrom(kServer, "form@example.org"));
    TRY(client.RcptTo("a@example.org"));
    TRY(client.RcptTo("B@example.org"));
    TRY(client.MsgBody("one", "s"));
    client.ClearToList();
    TRY(client.MailFrom(kServer, "form@example.org"));
    TRY(client.RcptBcc("x@example.org"));
    TRY(client.RcptBcc("y@example.org"));
    TRY(client.MsgBody("two", "s"));
    client.SetExtraHeader("Date: Mon, 1 Jan 2001 00:00:00 +0000\nmessage-id: <fixed@x>");
    TRY(client.MailFrom(kServer, "form@example.org"));
    TRY(client.RcptBcc("z@example.org"));
    TRY(client.MsgBody("three", "s"));
    // No recipient at all: the mail is dropped before DATA.
    TRY(client.MailFrom(kServer, "form@example.org"));
    TRY(client.MsgBody("four", "s"));
    client.Quit();
    return {};
  });
  ASSERT_FALSE(c.failure) << LogText(*c.failure);
  EXPECT_EQ(peer.connections, 1);
  EXPECT_EQ(c.wire.find("HELO"), c.wire.rfind("HELO"));
  EXPECT_NE(c.wire.find("To: a@example.org, b@example.org\r\nbcc: \r\n"), std::string::npos);
  EXPECT_NE(c.wire.find("RCPT TO:<y@example.org>\r\nDATA\r\nFrom: form@example.org\r\nSubject: "
                        "s\r\nTo: \r\nbcc: \r\n"),
            std::string::npos);
  EXPECT_NE(c.wire.find("X-Mailer: 2.1\r\nDate: Mon, 1 Jan 2001 00:00:00 +0000\r\n"
                        "message-id: <fixed@x>\r\n\r\nthree"),
            std::string::npos);
  EXPECT_NE(c.wire.find("MAIL FROM:<form@example.org>\r\nRSET\r\nQUIT\r\n"), std::string::npos);
  EXPECT_EQ(c.wire.find("four"), std::string::npos);
  for (const char* blind : {"x@example.org", "y@example.org", "z@example.org"}) {
    EXPECT_EQ(c.transcript.find(blind), std::string::npos) << blind;
  }
  // Each mail of the request has a Message-ID of its own.
  std::vector<std::string> ids;
  for (std::sregex_iterator it(peer.sent.begin(), peer.sent.end(), kMessageId), end; it != end;
       ++it) {
    ids.push_back((*it)[1]);
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"1", "2"}));
}

// The administrator's header text goes out as whole header lines that can
// end neither the header block nor the mail data early.
TEST(SmtpClientTest, ExtraHeaderFollowsTheFixedLines) {
  const std::string kDateAndId = "Date: Sat, 07 Mar 1998 14:05:09 +0100\r\nMessage-ID: <ID>\r\n";
  const struct {
    const char* name;
    std::optional<std::string> extra;
    std::string lines;  // what follows X-Mailer up to the blank line
  } cases[] = {
      {"none", std::nullopt, kDateAndId},
      {"empty", "", kDateAndId},
      {"one_line", "X-Form: contact", kDateAndId + "X-Form: contact\r\n"},
      {"line_ends_and_blank_lines", "A: 1\r\n\n \t\rB: 2\n", kDateAndId + "A: 1\r\nB: 2\r\n"},
      {"own_date_and_id", "date: x\nMESSAGE-ID: <y@z>", "date: x\r\nMESSAGE-ID: <y@z>\r\n"},
      {"field_name_inside_a_line", "X-Note: Date: x Message-ID: y",
       kDateAndId + "X-Note: Date: x Message-ID: y\r\n"},
      {"lone_dot_line", "A: 1\n.\nB: 2", kDateAndId + "A: 1\r\n..\r\nB: 2\r\n"},
      {"leading_dots", ".A: 1\n..", kDateAndId + "..A: 1\r\n...\r\n"},
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    ScriptedPeer peer;
    Conversation c = Converse(peer, [&](SmtpClient& client) {
      if (p.extra) client.SetExtraHeader(*p.extra);
      return OneMail(client);
    });
    ASSERT_FALSE(c.failure) << LogText(*c.failure);
    EXPECT_NE(c.wire.find("X-Mailer: 2.1\r\n" + p.lines + "\r\nHello\r\n\r\n.\r\nQUIT\r\n"),
              std::string::npos)
        << c.wire;
    // One end-of-data mark, answered once: nothing ended the mail early.
    EXPECT_EQ(c.transcript.find("250 queued"), c.transcript.rfind("250 queued"));
  };
  for (const auto& p : cases) check(p);
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

// An address that could break out of its command or header line, or that
// makes them longer than servers must take, is never sent, as sender,
// recipient or blind copy.
TEST(SmtpClientTest, UnsafeAddressIsNeverSent) {
  const std::string addresses[] = {"a@x.org>\r\nRCPT TO:<b@y.org",
                                   "a@x\nb",
                                   "a\rb@x",
                                   std::string("a\0b@x", 5),
                                   "a\x01@x",
                                   "a\x7f@x",
                                   "<a@x>",
                                   "a<b@x",
                                   "A>b@x",
                                   std::string(65, 'a') + "@x",
                                   "a@" + std::string(253, 'x')};
  enum class Role { kSender, kRecipient, kBlindCopy };
  const auto check = [&](const std::string& bad, Role role) {
    SCOPED_TRACE(::testing::PrintToString(bad) + " as role " + std::to_string(int(role)));
    ScriptedPeer peer;
    Conversation c = Converse(peer, [&](SmtpClient& client) -> Status {
      if (role == Role::kSender) return client.MailFrom(kServer, bad);
      TRY(client.MailFrom(kServer, "form@example.org"));
      return role == Role::kRecipient ? client.RcptTo(bad) : client.RcptBcc(bad);
    });
    ASSERT_TRUE(c.failure);
    EXPECT_EQ(c.failure->kind, FailureKind::kInvalidAddress);
    std::string shown = bad;  // recipients are lower-cased before the check
    if (role != Role::kSender) AsciiLowerInPlace(shown);
    const PageText page = PageFor(*c.failure);
    EXPECT_EQ(page.title, "Mail send error");
    EXPECT_EQ(page.message, "Invalid mail address: " + HtmlEscape(shown));
    EXPECT_EQ(c.wire.find(role == Role::kSender ? "HELO" : "RCPT"), std::string::npos);
  };
  for (const std::string& bad : addresses) {
    for (Role role : {Role::kSender, Role::kRecipient, Role::kBlindCopy}) check(bad, role);
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
    Conversation c = Converse(peer, [&](SmtpClient& client) -> Status {
      TRY(client.MailFrom(p.server, "form@example.org"));
      ADD_FAILURE() << "connected";
      return {};
    });
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

// A line the administrator's encoding keeps whole goes out as it is, and
// the log says which mail has it.
TEST(SmtpClientTest, LongLineKeptIsNoted) {
  ScriptedPeer peer;
  testing::FixedClock clock;
  testing::NoticeLog notices;
  SmtpClient::Options options;
  options.notices = &notices;
  SmtpClient client(peer, clock, options);
  client.SetExtraHeader("Content-Type: text/plain; charset=us-ascii");
  const std::string line(1200, 'a');
  for (bool blind : {false, true}) {
    ASSERT_TRUE(client.MailFrom(kServer, "form@example.org"));
    ASSERT_TRUE(blind ? client.RcptBcc("b@example.org") : client.RcptTo("ann@example.org"));
    ASSERT_TRUE(client.MsgBody("x\n" + line, "s"));
    client.ClearToList();
  }
  EXPECT_NE(peer.sent.find("\r\nx\r\n" + line + "\r\n\r\n.\r\n"), std::string::npos);
  using Note = std::pair<NoticeKind, std::string>;
  EXPECT_EQ(notices.notes,
            (std::vector<Note>{
                {NoticeKind::kLongLineKept, "mail to ann@example.org, a line of 1200 bytes"},
                {NoticeKind::kLongLineKept, "mail to the address file, a line of 1200 bytes"}}));
}

TEST(SmtpClientTest, QuitWithoutConnectionSendsNothing) {
  ScriptedPeer peer;
  testing::FixedClock clock;
  SmtpClient client(peer, clock);
  EXPECT_EQ(client.Quit(), 0);
  EXPECT_TRUE(client.transcript().empty());
  EXPECT_EQ(peer.connections, 0);
}

// A mail without body, subject or accepted sender (a failed encryption) is
// never started.
TEST(SmtpClientTest, IncompleteMailIsNotSent) {
  const struct {
    const char* name;
    bool mailFrom;
    std::optional<std::string_view> body, subject;
  } cases[] = {
      {"no_body", true, std::nullopt, "s"},
      {"no_subject", true, "b", std::nullopt},
      {"no_sender", false, "b", "s"},
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    ScriptedPeer peer;
    Conversation c = Converse(peer, [&](SmtpClient& client) -> Status {
      if (p.mailFrom) {
        TRY(client.MailFrom(kServer, "form@example.org"));
      }
      TRY(client.RcptTo("ann@example.org"));
      return client.MsgBody(p.body, p.subject);
    });
    ASSERT_TRUE(c.failure);
    EXPECT_EQ(c.failure->kind, FailureKind::kMailIncomplete);
    const PageText page = PageFor(*c.failure);
    EXPECT_EQ(page.title, std::nullopt);
    EXPECT_EQ(page.message,
              "Critical error occured with Veltrano.  Please contact developer and advise him "
              "that failure occured in the MsgBody() Function");
    EXPECT_EQ(c.wire.find("DATA"), std::string::npos);
  };
  for (const auto& p : cases) check(p);
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
    EXPECT_EQ(SmtpClient::CompleteReplyCode(c.reply), c.code) << "reply " << c.reply;
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
