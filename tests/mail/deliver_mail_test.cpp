#include "mail/deliver_mail.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "expand/placeholders.hpp"
#include "mail/message.hpp"
#include "mail/stand_in_pgp.hpp"
#include "response/catalogue.hpp"
#include "support/fake_system.hpp"
#include "support/python_mail.hpp"
#include "support/scripted_peer.hpp"
#include "text/text.hpp"

namespace veltrano {
namespace {

using Strings = std::vector<std::string>;
using testing::TempDir;

class NoticeList final : public Notices {
 public:
  void Note(NoticeKind kind, std::string detail) override {
    if (kind == NoticeKind::kEmptyRecipient) {
      fields.push_back(std::move(detail));
    } else if (kind == NoticeKind::kResponseFailed) {
      responses.push_back(std::move(detail));
    } else if (kind == NoticeKind::kLongLineKept) {
      longLines.push_back(std::move(detail));
    } else {
      EXPECT_EQ(kind, NoticeKind::kReplyToInvalid);
      replyTos.push_back(std::move(detail));
    }
  }
  Strings fields;     // recipient fields without a value
  Strings replyTos;   // REPLYTO values that are no usable address
  Strings responses;  // response mails that failed after an accepted mail
  Strings longLines;  // mails that keep a body line over 998 octets
};

// One request's mail phase against a scripted server. "$name$" stands for
// the field's value; a text holding "$huge$" is too long.
struct MailRun {
  MailRun() { env.vars["HUGE"] = std::string(kMaxExpandedLength + 1, 'x'); }

  void Field(const char* name, std::optional<std::string> value, bool sendTo,
             bool respondTo = false) {
    fields.push_back({name, {}, {}, {}, false, sendTo, respondTo});
    values.push_back(std::move(value));
  }

  Status Deliver() {
    testing::FixedClock clock;
    PgpEncryptor pgp(env);
    PathAliases aliases(dir.path());
    MailOrder order{sections, fields, addressFile, responseSubject, responseBody, pgpMime};
    lowered = LowerCaseRecipients(order, values);
    const MailSources sources{env, clock, aliases, "t.tpl", pgp, "client.test"};
    Result<Outbox> outbox = BuildOutbox(order, values, lowered, sources, notices, files);
    if (!outbox) return outbox.failure();
    Result<Transcript> sent =
        SendOutbox(*outbox, peer, sections.server, peer.hostName, {}, notices);
    if (!sent) return sent.failure();
    return {};
  }

  MailSections sections{"mx.test", "form@example.org", "Main", "main body", {}, {}, {}};
  std::vector<FieldDefinition> fields;
  FieldValues values;
  FieldValues lowered;  // as the later phases see them
  std::optional<std::string> addressFile, responseSubject, responseBody;
  bool pgpMime = false;
  FieldFiles files;  // set: a field with a file (its value the file's name)
  testing::MapEnvironment env;
  testing::ScriptedPeer peer;
  NoticeList notices;
  TempDir dir;
};

Strings Captures(const std::string& wire, const std::regex& pattern) {
  Strings out;
  for (std::sregex_iterator it(wire.begin(), wire.end(), pattern), end; it != end; ++it) {
    out.push_back((*it)[1]);
  }
  return out;
}

Strings Recipients(const std::string& wire) {
  return Captures(wire, std::regex(R"(RCPT TO:<([^>]*)>\r\n)"));
}

// The mail texts of a conversation (what followed each DATA up to the
// end-of-data mark), without their Message-ID lines.
Strings Mails(const std::string& wire) {
  static const std::regex id(R"(Message-ID: <[^>]*>\r\n)");
  Strings mails;
  for (std::size_t at = 0; (at = wire.find("DATA\r\n", at)) != std::string::npos;) {
    at += 6;
    std::size_t end = wire.find("\r\n.\r\n", at);
    if (end == std::string::npos) break;
    mails.push_back(std::regex_replace(wire.substr(at, end + 2 - at), id, ""));
    at = end;
  }
  return mails;
}

std::string Header(const std::string& from, const std::string& subject, const std::string& to,
                   const std::string& extra = "") {
  return "From: " + from + "\r\nSubject: " + subject + "\r\nTo: " + to +
         "\r\nbcc: \r\nX-Mailer: 2.1\r\nDate: Sat, 07 Mar 1998 14:05:09 +0100\r\n" +
         (extra.empty() ? "" : extra + "\r\n") + "\r\n";
}

// The same for a response mail, marked as an automatic reply.
std::string ResponseHeader(const std::string& from, const std::string& subject,
                           const std::string& to, const std::string& extra = "") {
  return Header(from, subject, to,
                "Auto-Submitted: auto-replied" + (extra.empty() ? "" : "\r\n" + extra));
}

TEST(DeliverMailTest, SendsEveryGroupInOrderOverOneConnection) {
  MailRun r;
  // Longer than any fixed piece a line might be read in, and still plain.
  std::string longAddress = std::string(64, 'l') + "@";
  while (longAddress.size() < 240) longAddress += "sub.";
  longAddress += "example.org";
  r.dir.Write("list.txt", "x@example.org\r\n\n  Y@Example.org \t\n" + longAddress + "\n\n");
  r.sections.subject = "Contact";
  r.sections.messageBody = "Hello\n.\nbye";
  r.sections.mailHeader = "X-Form: contact";
  r.sections.responseMailHeader = "Reply-To: boss@example.org";
  r.responseSubject = "Thanks";
  r.responseBody = "We got it\n.x";
  r.addressFile = r.dir.path() + "/list.txt";
  r.Field("name", "Ann", false);
  r.Field("email", "Ann@Example.ORG", true, true);
  r.Field("boss", "Boss@Example.org", true);
  r.Field("other", std::nullopt, true);
  r.Field("cc", std::nullopt, false, true);

  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  EXPECT_EQ(r.peer.connections, 1);
  EXPECT_EQ(r.peer.sent.find("HELO"), r.peer.sent.rfind("HELO"));
  EXPECT_EQ(Recipients(r.peer.sent),
            (Strings{"ann@example.org", "boss@example.org", "x@example.org", "y@example.org",
                     longAddress, "ann@example.org"}));
  // Each body is followed by CR LF and then the end-of-data mark.
  const std::string mainBody = "Hello\r\n..\r\nbye\r\n\r\n";
  const std::string from = "form@example.org";
  EXPECT_EQ(
      Mails(r.peer.sent),
      (Strings{Header(from, "Contact", "ann@example.org", "X-Form: contact") + mainBody,
               Header(from, "Contact", "boss@example.org", "X-Form: contact") + mainBody,
               Header(from, "Contact", "", "X-Form: contact") + mainBody,
               ResponseHeader(from, "Thanks", "ann@example.org", "Reply-To: boss@example.org") +
                   "We got it\r\n..x\r\n\r\n"}))
      << r.peer.sent;
  // Each mail has a Message-ID of its own.
  EXPECT_EQ(Captures(r.peer.sent,
                     std::regex(R"(Message-ID: <\d{14}\.[0-9a-f]{16}\.(\d+)@client\.test>\r\n)")),
            (Strings{"1", "2", "3", "4"}));
  // Mailing a field lower-cases its value for every later use; the
  // submitted values stay as they came.
  EXPECT_EQ(r.lowered, (FieldValues{"Ann", "ann@example.org", "boss@example.org", std::nullopt,
                                    std::nullopt}));
  EXPECT_EQ(r.values[1], "Ann@Example.ORG");
  EXPECT_EQ(r.notices.fields, (Strings{"other", "cc"}));
}

TEST(DeliverMailTest, SendsTheMailsTheTemplateAsksFor) {
  struct ExpectedFailure {
    FailureKind kind;
    std::optional<std::string> title;
  };
  const struct {
    const char* name;
    std::function<void(MailRun&)> setup;
    Strings recipients;
    Strings subjects;  // of the mails sent, in order
    int connections;
    std::optional<ExpectedFailure> failure;
    Strings responseFailures = {};  // the notices' details
  } cases[] = {
      // clang-format off
      {"no_mail_no_connection", [](MailRun& r) { r.fields[0].sendTo = false; }, {}, {}, 0, {}},
      {"rsubject_alone_sends_no_response", [](MailRun& r) { r.responseSubject = "R"; },
       {"ann@example.org"}, {"Main"}, 1, {}},
      {"rmsgbody_alone_reuses_main_texts", [](MailRun& r) { r.responseBody = "unused"; },
       {"ann@example.org", "ann@example.org"}, {"Main", "Main"}, 1, {}},
      {"empty_address_file_mail_dropped",
       [](MailRun& r) {
         r.fields[0].sendTo = false;
         r.dir.Write("list.txt", "\n  \n\n");
         r.addressFile = r.dir.path() + "/list.txt";
       }, {}, {}, 1, {}},
      // Every mail is built before the first is sent: a failure on the way
      // leaves nothing half sent.
      {"missing_address_file", [](MailRun& r) { r.addressFile = r.dir.path() + "/none.txt"; },
       {}, {}, 0,
       ExpectedFailure{FailureKind::kAddressFileUnreadable, "Veltrano AdrFile error"}},
      // A value of spaces is trimmed to nothing: no address, so no mail
      // (RCPT TO:<> would get the DATA refused).
      {"blank_value_gets_no_mail", [](MailRun& r) { r.values[0] = ""; r.responseBody = "r"; },
       {}, {}, 0, {}},
      // After an accepted main mail a refused response is noted, and the
      // request goes on; alone, it ends the phase.
      {"refused_response_mail_after_the_main_mail_noted",
       [](MailRun& r) {
         r.responseBody = "r";
         r.peer = testing::ScriptedPeer(
             {{"MAIL", {testing::Reply("250 ok\r\n"), testing::Reply("451 later\r\n")}}});
       },
       {"ann@example.org"}, {"Main"}, 1, {},
       {"to ann@example.org, server mx.test: MAIL FROM:<form@example.org>: refused: 451 later"}},
      {"connection_cut_after_the_main_mail_noted",
       [](MailRun& r) {
         r.responseBody = "r";
         r.peer = testing::ScriptedPeer({{".", {testing::CloseAfter({"250 queued\r\n"})}}});
       },
       {"ann@example.org"}, {"Main"}, 1, {},
       {"to ann@example.org, server mx.test: MAIL FROM:<form@example.org>: not sent"}},
      {"refused_response_mail_alone_ends_the_phase",
       [](MailRun& r) {
         r.fields[0].sendTo = false;
         r.responseBody = "r";
         r.peer = testing::ScriptedPeer({{"MAIL", {testing::Reply("451 later\r\n")}}});
       },
       {}, {}, 1, ExpectedFailure{FailureKind::kSmtpRefused, "SMTP Communication error"}},
      {"sender_expansion_fails_before_connecting", [](MailRun& r) { r.sections.sender = "$huge$"; },
       {}, {}, 0, ExpectedFailure{FailureKind::kExpansionTooLong, "Mail send error"}},
      {"replyto_expansion_fails_before_connecting",
       [](MailRun& r) { r.sections.replyTo = "$huge$"; },
       {}, {}, 0, ExpectedFailure{FailureKind::kExpansionTooLong, "Mail send error"}},
      {"response_expansion_fails_before_any_mail",
       [](MailRun& r) { r.responseSubject = "R"; r.responseBody = "$huge$"; },
       {}, {}, 0,
       ExpectedFailure{FailureKind::kExpansionTooLong, "Mail send error"}},
      // clang-format on
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    MailRun r;
    r.Field("email", "ann@example.org", true, true);
    p.setup(r);
    Status done = r.Deliver();
    if (p.failure) {
      ASSERT_FALSE(done);
      EXPECT_EQ(done.failure().kind, p.failure->kind);
      EXPECT_EQ(PageFor(done.failure()).title, p.failure->title);
    } else {
      EXPECT_TRUE(done) << LogText(done.failure());
    }
    EXPECT_EQ(Recipients(r.peer.sent), p.recipients);
    Strings subjects;
    for (const std::string& mail : Mails(r.peer.sent)) {
      std::size_t at = mail.find("Subject: ") + 9;
      subjects.push_back(mail.substr(at, mail.find("\r\n", at) - at));
    }
    EXPECT_EQ(subjects, p.subjects);
    EXPECT_EQ(r.peer.connections, p.connections);
    EXPECT_EQ(r.notices.responses, p.responseFailures);
  };
  for (const auto& p : cases) check(p);
}

// SUBJECT and MSGBODY are expanded before the first recipient and keep the
// visitor's letter case; SENDER, RSUBJECT and RMSGBODY are expanded later and
// see the value as the earlier mails lower-cased it.
TEST(DeliverMailTest, LaterExpansionsSeeTheLowerCasedValue) {
  MailRun r;
  r.dir.Write("list.txt", "x@example.org\n");
  r.sections.sender = "$email$";
  r.sections.subject = "S $email$";
  r.sections.messageBody = "M $email$";
  r.responseSubject = "R $email$";
  r.responseBody = "B $email$";
  r.addressFile = r.dir.path() + "/list.txt";
  r.Field("email", "Ann@Example.ORG", true, true);

  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  EXPECT_EQ(Captures(r.peer.sent, std::regex(R"(MAIL FROM:<([^>]*)>\r\n)")),
            (Strings{"Ann@Example.ORG", "ann@example.org", "ann@example.org"}));
  const std::string lower = "ann@example.org";
  EXPECT_EQ(
      Mails(r.peer.sent),
      (Strings{Header("Ann@Example.ORG", "S Ann@Example.ORG", lower) + "M Ann@Example.ORG\r\n\r\n",
               Header(lower, "S Ann@Example.ORG", "") + "M Ann@Example.ORG\r\n\r\n",
               ResponseHeader(lower, "R " + lower, lower) + "B " + lower + "\r\n\r\n"}));
}

// REPLYTO is expanded for each main and address-file mail and goes on one
// line after From; the response mail has none. A value that is no usable
// address gives no header, and the log says so.
TEST(DeliverMailTest, ReplyToOnMainAndAddressFileMails) {
  const struct {
    const char* name;
    std::optional<std::string> section;
    std::string visitor;
    std::optional<std::string> header;
    std::optional<std::string> noted;  // the log's detail, once per mail
  } cases[] = {
      {"visitor_address", " $visitor$\n", "Ann@Example.org", "Ann@Example.org", {}},
      {"line_breaks_collapsed_then_refused", "$visitor$", "a@x\r\nBcc: v@y", std::nullopt,
       "a@x Bcc: v@y"},
      {"absent", std::nullopt, "a@x", std::nullopt, {}},
      {"empty_after_trimming", " \n$visitor$ ", "\t", std::nullopt, {}},
      {"angle_brackets", "Ann <$visitor$>", "a@x", std::nullopt, "Ann <a@x>"},
      {"control_byte", "$visitor$", "a\x01@x", std::nullopt, "a\x01@x"},
      {"delete_byte", "$visitor$", "a\x7f@x", std::nullopt, "a\x7f@x"},
      {"percent_route", "$visitor$", "x%evil.example@example.org", std::nullopt,
       "x%evil.example@example.org"},
      {"bang_path", "$visitor$", "x!evil.example@example.org", std::nullopt,
       "x!evil.example@example.org"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailRun r;
    r.dir.Write("list.txt", "x@example.org\n");
    r.addressFile = r.dir.path() + "/list.txt";
    r.responseBody = "r";
    r.sections.replyTo = c.section;
    r.Field("owner", "owner@example.org", true);
    r.Field("visitor", c.visitor, false);
    r.Field("email", "ann@example.org", false, true);
    Status done = r.Deliver();
    ASSERT_TRUE(done) << LogText(done.failure());
    ASSERT_EQ(Mails(r.peer.sent).size(), 3u);
    const Strings want = c.header ? Strings{*c.header, *c.header} : Strings{};
    EXPECT_EQ(
        Captures(r.peer.sent, std::regex("\r\nFrom: form@example.org\r\nReply-To: ([^\r]*)\r\n")),
        want);
    EXPECT_EQ(r.notices.replyTos, c.noted ? Strings(2, *c.noted) : Strings{});
  }
}

// Only main mails to fields with a key are encrypted; the other main mail,
// the address-file mail and the response mail (whatever key its field has)
// go out plain. The armour passes through the same wire preparation.
TEST(DeliverMailTest, EncryptsOnlyTheMainMailsOfKeyedFields) {
  testing::StandInPgp pgpExe;
  // The armour shows each CR of the plain file as "~".
  pgpExe.Install(
      "{ echo 'BEGIN'; echo \"key $3\"; tr '\\r' '~' < \"$2\"; echo; echo 'END'; } > \"$2.asc\"\n");
  MailRun r;
  const std::string tmp = r.dir.path() + "/tmp";
  std::filesystem::create_directory(tmp);
  r.env.vars["TMP"] = tmp;
  r.dir.Write("list.txt", "x@example.org\n");
  r.sections.subject = "S";
  r.sections.messageBody = "Hi\r\n.\nbye";
  r.responseBody = "unused";
  r.addressFile = r.dir.path() + "/list.txt";
  r.Field("a", "a@example.org", true);
  r.Field("b", "b@example.org", true);
  r.Field("c", "c@example.org", false, true);
  r.fields[0].pgpKeyId = "K1";
  r.fields[2].pgpKeyId = "K3";

  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  const std::string plain = "Hi\r\n..\r\nbye\r\n\r\n";
  const std::string from = "form@example.org";
  EXPECT_EQ(Mails(r.peer.sent),
            (Strings{Header(from, "S", "a@example.org") +
                         "BEGIN\r\nkey K1\r\nHi~\r\n..~\r\nbye\r\nEND\r\n\r\n\r\n",
                     Header(from, "S", "b@example.org") + plain, Header(from, "S", "") + plain,
                     ResponseHeader(from, "S", "c@example.org") + plain}));
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// Armour goes out as pgp wrote it, never re-encoded, even when (as with this
// stand-in) it holds what the plain mail would send as quoted-printable; the
// subject still becomes encoded words.
TEST(DeliverMailTest, ArmourIsNeverReencoded) {
  testing::StandInPgp pgpExe;
  pgpExe.Install("{ echo BEGIN; cat \"$2\"; echo; echo END; } > \"$2.asc\"\n");
  MailRun r;
  r.env.vars["TMP"] = r.dir.path();
  const std::string text = "Gr\xc3\xbc\xc3\x9f " + std::string(1200, 'x');
  r.sections.subject = "Zo\xc3\xab";
  r.sections.messageBody = text;
  r.Field("a", "a@example.org", true);
  r.Field("b", "b@example.org", true);
  r.fields[0].pgpKeyId = "K1";
  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  const Strings mails = Mails(r.peer.sent);
  ASSERT_EQ(mails.size(), 2u);
  for (const std::string& mail : mails) {
    EXPECT_NE(mail.find("\r\nSubject: =?UTF-8?Q?Zo=C3=AB?=\r\n"), std::string::npos) << mail;
  }
  EXPECT_NE(mails[0].find("\r\n\r\nBEGIN\r\n" + text + "\r\nEND\r\n"), std::string::npos);
  EXPECT_EQ(mails[0].find("MIME-Version"), std::string::npos);
  EXPECT_NE(mails[1].find("Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=C3=BC=C3=9F x"),
            std::string::npos)
      << mails[1];
}

// A field with ATTACH and a file to mail; its value is the file's name.
void FileField(MailRun& r, const char* name, const std::string& fileName, std::string bytes) {
  r.Field(name, fileName, false);
  auto body = std::make_shared<const std::string>(std::move(bytes));
  r.files.resize(r.fields.size());
  r.files.back() = FileBytes{body, *body};
}

// Files go with the main mails and the address-file mail, in the order of
// their fields, never with a response mail; a mail's text is read back
// from what the server got.
TEST(DeliverMailTest, FilesGoWithTheMainAndAddressFileMailsOnly) {
  MailRun r;
  r.dir.Write("list.txt", "x@example.org\n");
  r.addressFile = r.dir.path() + "/list.txt";
  r.responseBody = "unused";
  r.sections.messageBody = "CV of $name$\n";
  r.Field("name", "Ann", false);
  FileField(r, "photo", "me.png", "\x89PNG\r\n\x1a\n.\r\n");
  r.Field("to", "hr@example.org", true);
  FileField(r, "cv", "cv.pdf", "%PDF-\r\n.\r\n" + std::string(300, '\xff'));
  r.Field("email", "ann@example.org", false, true);
  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  std::vector<testing::ReadMail> mails = testing::ReadMailsWithPython(r.peer.sent);
  ASSERT_EQ(mails.size(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(mails[i].parts.size(), 3u);
    EXPECT_EQ(mails[i].parts[0].body, "CV of Ann\r\n");
    EXPECT_EQ(mails[i].parts[1].fileName, "me.png");
    EXPECT_EQ(mails[i].parts[1].body, *r.files[1]->body);
    EXPECT_EQ(mails[i].parts[2].fileName, "cv.pdf");
    EXPECT_EQ(mails[i].parts[2].body, *r.files[3]->body);
  }
  EXPECT_EQ(mails[2].Header("To"), "ann@example.org");
  EXPECT_EQ(mails[2].Header("Content-Type"), std::nullopt);
  EXPECT_TRUE(mails[2].parts.empty());
}

// An encrypted main mail is PGP/MIME with PGPMIME on or with files, the
// armour as its body otherwise. This stand-in's "armour" is the file it was
// given, so the entity shows.
TEST(DeliverMailTest, EncryptedMailIsPgpMimeWithFilesOrWhenAskedFor) {
  testing::StandInPgp pgpExe;
  pgpExe.Install("cp \"$2\" \"$2.asc\"\n");
  const struct {
    const char* name;
    bool pgpMime;
    bool withFile;
  } cases[] = {{"armour", false, false}, {"pgp_mime_on", true, false}, {"file", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailRun r;
    r.env.vars["TMP"] = r.dir.path();
    r.pgpMime = c.pgpMime;
    r.sections.messageBody = "Secret\n";
    r.Field("to", "hr@example.org", true);
    r.fields[0].pgpKeyId = "K1";
    if (c.withFile) FileField(r, "cv", "cv.pdf", "%PDF-1.7");
    Status done = r.Deliver();
    ASSERT_TRUE(done) << LogText(done.failure());
    std::vector<testing::ReadMail> mails = testing::ReadMailsWithPython(r.peer.sent);
    ASSERT_EQ(mails.size(), 1u);
    if (!c.pgpMime && !c.withFile) {
      EXPECT_EQ(mails[0].body, "Secret\r\n\r\n\r\n");  // the legacy armoured body
      continue;
    }
    EXPECT_EQ(mails[0].Header("Content-Type").value_or("").rfind("multipart/encrypted", 0), 0u);
    ASSERT_EQ(mails[0].parts.size(), 2u);
    std::vector<testing::ReadMail> entity = testing::ReadMailsWithPython(
        "DATA\r\n" + PrepareBodyForWire(mails[0].parts[1].body) + "\r\n.\r\n");
    ASSERT_EQ(entity.size(), 1u);
    if (!c.withFile) {
      EXPECT_EQ(entity[0].charset, "us-ascii");
      EXPECT_EQ(entity[0].body, "Secret\r\n");
      continue;
    }
    ASSERT_EQ(entity[0].parts.size(), 2u);
    EXPECT_EQ(entity[0].parts[0].body, "Secret\r\n");
    EXPECT_EQ(entity[0].parts[1].fileName, "cv.pdf");
    EXPECT_EQ(entity[0].parts[1].body, "%PDF-1.7");
  }
}

// A keyed mail that cannot be encrypted is never sent, not even in plain.
TEST(DeliverMailTest, KeyedMailWithoutArmourIsNotSent) {
  const struct {
    const char* name;
    const char* script;  // none: no pgp.exe on PATH
    FailureKind kind;
    std::string page;
  } cases[] = {
      {"no_armour", "exit 1\n", FailureKind::kMailIncomplete,
       "Critical error occured with Veltrano.  Please contact developer and advise him that "
       "failure occured in the MsgBody() Function"},
      {"not_started", nullptr, FailureKind::kPgpNotStarted, "pgp didn't run"},
  };
  const auto check = [&](const auto& p) {
    SCOPED_TRACE(p.name);
    testing::StandInPgp pgpExe;
    if (p.script) pgpExe.Install(p.script);
    testing::ScopedEnv path("PATH", p.script ? std::getenv("PATH") : pgpExe.bin.path());
    MailRun r;
    r.Field("email", "ann@example.org", true);
    r.fields[0].pgpKeyId = "0x1234";
    Status done = r.Deliver();
    ASSERT_FALSE(done);
    EXPECT_EQ(done.failure().kind, p.kind);
    EXPECT_EQ(PageFor(done.failure()).message, p.page);
    EXPECT_NE(done.failure().detail, "");  // pgp's side of the story, for the log
    // Encryption comes before the first SMTP command.
    EXPECT_EQ(r.peer.connections, 0);
  };
  for (const auto& p : cases) check(p);
}

// An address that could break out of its command or header line, that is
// not ASCII, or that makes them longer than servers must take, ends the
// phase before anything is sent, as sender, recipient or blind copy.
TEST(DeliverMailTest, UnsafeAddressIsNeverSent) {
  const std::string addresses[] = {"a@x.org>\r\nRCPT TO:<b@y.org",
                                   "a@x\nb",
                                   "a\rb@x",
                                   std::string("a\0b@x", 5),
                                   "a\x01@x",
                                   "a\x7f@x",
                                   "j\xc3\xb6rg@b\xc3\xbc"
                                   "cher.example",
                                   "a@\x80x",
                                   "<a@x>",
                                   "a<b@x",
                                   "A>b@x",
                                   std::string(65, 'a') + "@x",
                                   "a@" + std::string(253, 'x')};
  enum class Role { kSender, kRecipient, kBlindCopy };
  const auto check = [&](const std::string& bad, Role role) {
    SCOPED_TRACE(::testing::PrintToString(bad) + " as role " + std::to_string(int(role)));
    MailRun r;
    r.Field("email", role == Role::kRecipient ? bad : "ann@example.org", true);
    if (role == Role::kSender) r.sections.sender = bad;
    if (role == Role::kBlindCopy) {
      r.dir.Write("list.txt", bad + "\n");
      r.addressFile = r.dir.path() + "/list.txt";
    }
    Status done = r.Deliver();
    ASSERT_FALSE(done);
    EXPECT_EQ(done.failure().kind, FailureKind::kInvalidAddress);
    std::string shown = bad;  // recipients are lower-cased before the check
    if (role != Role::kSender) AsciiLowerInPlace(shown);
    const PageText page = PageFor(done.failure());
    EXPECT_EQ(page.title, "Mail send error");
    EXPECT_EQ(page.message, "Invalid mail address: " + HtmlEscape(shown));
    EXPECT_EQ(r.peer.connections, 0);
  };
  for (const std::string& bad : addresses) {
    for (Role role : {Role::kSender, Role::kRecipient, Role::kBlindCopy}) {
      // A line end would make two lines of the address file.
      if (role != Role::kBlindCopy || bad.find('\n') == std::string::npos) check(bad, role);
    }
  }
}

// SENDER, as expanded, is empty (the null sender) or one plain address;
// anything else ends the phase before anything is sent.
TEST(DeliverMailTest, SenderIsNullOrOnePlainAddress) {
  const struct {
    const char* sender;
    std::optional<std::string> mailFrom;  // none: "Invalid mail address"
  } cases[] = {
      {" form@example.org\n", "form@example.org"},
      {"", ""},
      {"$visitor$", "ann@example.org"},
      {"form@a@example.org", std::nullopt},
      {"webmaster", std::nullopt},
      {"\"a b\"@example.org", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sender);
    MailRun r;
    r.sections.sender = c.sender;
    r.Field("visitor", "ann@example.org", true);
    Status done = r.Deliver();
    ASSERT_EQ(bool(done), c.mailFrom.has_value());
    if (c.mailFrom) {
      EXPECT_EQ(Captures(r.peer.sent, std::regex("MAIL FROM:<([^>]*)>")), Strings{*c.mailFrom});
    } else {
      EXPECT_EQ(done.failure().kind, FailureKind::kInvalidAddress);
      EXPECT_EQ(r.peer.connections, 0);
    }
  }
}

// A line the administrator's encoding keeps whole goes out as it is, and
// the log says which mail has it.
TEST(DeliverMailTest, LongLineKeptIsNoted) {
  MailRun r;
  const std::string line(1200, 'a');
  r.sections.mailHeader = "Content-Type: text/plain; charset=us-ascii";
  r.sections.messageBody = "x\n" + line;
  r.dir.Write("list.txt", "b@example.org\n");
  r.addressFile = r.dir.path() + "/list.txt";
  r.Field("email", "ann@example.org", true);
  Status done = r.Deliver();
  ASSERT_TRUE(done) << LogText(done.failure());
  EXPECT_NE(r.peer.sent.find("\r\nx\r\n" + line + "\r\n\r\n.\r\n"), std::string::npos);
  EXPECT_EQ(r.notices.longLines, (Strings{"mail to ann@example.org, a line of 1200 bytes",
                                          "mail to the address file, a line of 1200 bytes"}));
}

}  // namespace
}  // namespace veltrano
