#include "mail/message.hpp"

#include <gtest/gtest.h>

#include "support/python_mail.hpp"

namespace veltrano {
namespace {

using testing::Latin1ToUtf8;
using testing::ReadMail;

std::string Crlf(std::string_view text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

MailHeader Header(std::string_view subject, std::optional<std::string_view> extra = {}) {
  return {"form@example.org",           std::nullopt,    subject, "ann@example.org", extra,
          {1998, 3, 7, 14, 5, 9, 3600}, "id@client.test"};
}

// Mails as a reader sees them: each case's mail goes through Python's email
// package (one run for all), which must find the subject and the body as
// they were given, and lines SMTP carries.
TEST(ComposeMailTest, ReadersGetTheTextBack) {
  const std::string utf8Subject = "Contact: Zo\xc3\xab \xc3\x9cnal";
  const std::string utf8Body =
      "Name: Zo\xc3\xab \xc3\x9cnal\nGr\xc3\xbc\xc3\x9f = Gott \n.\n.x\n\tFrom here\n";
  std::string longLine = "start\n";
  for (int i = 0; i < 500; ++i) longLine += i % 50 ? "word=.x " : ".lead ";
  longLine += "\nend";
  std::string words, emoji;
  for (int i = 0; i < 200; ++i) words += "word" + std::to_string(i) + " ";
  words += "end";
  for (int i = 0; i < 100; ++i) emoji += "\xc3\xbc\xf0\x9f\x98\x80 ";
  emoji += "!";
  const std::string armour =
      "-----BEGIN PGP MESSAGE-----\n\nhQEMAx1=\n.\n-----END PGP MESSAGE-----\n";
  const struct {
    const char* name;
    std::string subject, body;
    std::optional<std::string> extra;
    BodyKind kind;
    std::string subjectRead;  // decoded, UTF-8
    std::string charset;      // of the body; empty: no MIME lines of ours
    std::size_t longest;      // longest line at most
    std::size_t longLineKept;
  } cases[] = {
      {"utf8", utf8Subject, utf8Body, {}, BodyKind::kText, utf8Subject, "utf-8", 78, 0},
      {"latin1",
       "caf\xe9",
       "d\xe9j\xe0 vu\n",
       {},
       BodyKind::kText,
       Latin1ToUtf8("caf\xe9"),
       "iso-8859-1",
       78,
       0},
      // Each its own charset: a subject in UTF-8 with a body that is not.
      {"charsets_apart",
       "Zo\xc3\xab",
       "d\xe9j\xe0",
       {},
       BodyKind::kText,
       "Zo\xc3\xab",
       "iso-8859-1",
       78,
       0},
      {"long_ascii_line", "Long", longLine, {}, BodyKind::kText, "Long", "utf-8", 78, 0},
      {"long_ascii_subject_folded", words, "b", {}, BodyKind::kText, words, "", 78, 0},
      {"subject_without_spaces",
       std::string(1500, 'x'),
       "b",
       {},
       BodyKind::kText,
       std::string(1500, 'x'),
       "",
       78,
       0},
      {"long_utf8_subject", emoji, "b", {}, BodyKind::kText, emoji, "utf-8", 78, 0},
      // The administrator's own encoding: the body stays as it is.
      {"admin_8bit", utf8Subject, utf8Body,
       "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit", BodyKind::kText,
       utf8Subject, "utf-8", 78, 0},
      {"admin_qp_long_line", "s", std::string(3000, 'a'),
       "Content-Transfer-Encoding: Quoted-Printable", BodyKind::kText, "s", "", 998, 0},
      {"admin_type_long_line", "s", std::string(1500, 'a'), "Content-Type: text/plain",
       BodyKind::kText, "s", "", 1500, 1500},
      {"armour", "Zo\xc3\xab", armour, {}, BodyKind::kArmour, "Zo\xc3\xab", "", 78, 0},
  };
  std::string conversation;
  for (const auto& c : cases) {
    ComposedMail mail = ComposeMail(Header(c.subject, c.extra), c.body, c.kind);
    EXPECT_EQ(mail.longLineKept, c.longLineKept) << c.name;
    conversation += "DATA\r\n" + mail.text + "\r\n.\r\n";
  }
  std::vector<ReadMail> mails = testing::ReadMailsWithPython(conversation);
  ASSERT_EQ(mails.size(), std::size(cases));
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const auto& c = cases[i];
    const ReadMail& m = mails[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(m.Header("Subject"), c.subjectRead);
    // The framing adds a line end and a blank line after every body.
    EXPECT_EQ(m.body, Crlf(c.body) + "\r\n\r\n");
    EXPECT_EQ(m.charset, c.charset);
    if (!c.extra) {  // else the administrator's lines stand alone
      const bool mime = !c.charset.empty();
      EXPECT_EQ(m.Header("MIME-Version"), mime ? std::optional<std::string>("1.0") : std::nullopt);
      EXPECT_EQ(m.Header("Content-Transfer-Encoding"),
                mime ? std::optional<std::string>("quoted-printable") : std::nullopt);
    }
    EXPECT_LE(m.longest, c.longest);
    EXPECT_EQ(m.sevenBit, c.name != std::string("admin_8bit"));
    EXPECT_EQ(m.defects, 0);
  }
}

// Where the new lines stand: Reply-To after From, Auto-Submitted and the
// MIME lines after Message-ID, the administrator's header last.
TEST(ComposeMailTest, HeaderBlockOfAUtf8ResponseWithReplyTo) {
  MailHeader header = Header("Danke, Zo\xc3\xab", "X-Form: contact");
  header.replyTo = "zoe@example.org";
  header.autoReply = true;
  EXPECT_EQ(ComposeMail(header, "Gr\xc3\xbc\xc3\x9f\n", BodyKind::kText).text,
            "From: form@example.org\r\nReply-To: zoe@example.org\r\n"
            "Subject: =?UTF-8?Q?Danke=2C_Zo=C3=AB?=\r\nTo: ann@example.org\r\nbcc: \r\n"
            "X-Mailer: 2.1\r\nDate: Sat, 07 Mar 1998 14:05:09 +0100\r\n"
            "Message-ID: <id@client.test>\r\nAuto-Submitted: auto-replied\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\nX-Form: contact\r\n\r\n"
            "Gr=C3=BC=C3=9F\r\n\r\n");
  // The administrator's own fields stand for ours.
  header.extra = "auto-submitted: no\nMime-Version: 1.0";
  const std::string text = ComposeMail(header, "x", BodyKind::kText).text;
  EXPECT_EQ(text.find("Auto-Submitted: auto-replied"), std::string::npos) << text;
  EXPECT_EQ(text.find("MIME-Version: 1.0"), std::string::npos) << text;
  EXPECT_NE(text.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
}

// The administrator's header text goes out as whole header lines that can
// end neither the header block nor the mail data early.
TEST(ComposeMailTest, ExtraHeaderFollowsTheFixedLines) {
  const std::string kDateAndId =
      "Date: Sat, 07 Mar 1998 14:05:09 +0100\r\nMessage-ID: <id@client.test>\r\n";
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
  for (const auto& p : cases) {
    SCOPED_TRACE(p.name);
    const std::optional<std::string_view> extra =
        p.extra ? std::optional<std::string_view>(*p.extra) : std::nullopt;
    const std::string text = ComposeMail(Header("s", extra), "Hello", BodyKind::kText).text;
    EXPECT_NE(text.find("X-Mailer: 2.1\r\n" + p.lines + "\r\nHello\r\n"), std::string::npos)
        << text;
    // No line of a lone dot: nothing ends the mail data early.
    EXPECT_EQ(text.find("\r\n.\r\n"), std::string::npos) << text;
  }
}

// The bytes a mail goes out as: its text, then its pieces prepared as the
// SMTP client prepares them.
std::string Wire(const ComposedMail& mail) {
  std::string out = mail.text;
  WireWriter writer;
  for (const MailPiece& piece : mail.pieces) {
    writer.Feed(*piece.shared, out);
    writer.Feed(piece.after, out);
  }
  writer.Finish(out);
  return out;
}

using Files = std::vector<std::pair<std::string, std::string>>;  // cleaned name, bytes

std::vector<Attachment> Attached(const Files& files) {
  std::vector<Attachment> attached;
  for (const auto& [name, bytes] : files) {
    attached.push_back({name, std::make_shared<const std::string>(Base64Lines(bytes))});
  }
  return attached;
}

std::string AllBytes() {
  std::string bytes = "%PDF-1.4\r\n.\r\n--=_t.1\r\n";
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

// Files make the mail multipart/mixed: the text part first with its own
// charset and encoding, then each file as Python's email package reads it
// back, byte for byte and under its name, however hostile the name.
TEST(ComposeMailTest, FilesMakeAMultipartMailReadersTakeApart) {
  const std::string png = "\x89PNG\r\n\x1a\n" + std::string(5000, '\x7f');
  const struct {
    const char* name;
    std::string body;
    std::optional<std::string> extra;
    Files files;
    std::string textType;
  } cases[] = {
      {"ascii_text_pdf_png",
       "Hello\n.\nBye\n",
       "X-Form: apply",
       {{"cv.pdf", AllBytes()}, {"me.png", png}},
       "text/plain"},
      {"utf8_text_hostile_names",
       "Gr\xc3\xbc\xc3\x9f\n" + std::string(1200, 'x'),
       {},
       {{"a\"b\\c;d.pdf", "%PDF-"},
        {"Lebenslauf J\xc3\xbcrgen.pdf", "%PDF-"},
        {"=?utf-8?b?ZXZpbC5leGU=?=.pdf", "%PDF-"},
        {std::string(251, 'a') + ".pdf", "%PDF-"},
        {std::string(83 * 3 - 3, 'e') + "\xe2\x82\xac.pdf", "%PDF-"}},
       "text/plain"},
      {"admin_content_type_goes_to_the_text",
       "<p>Hi</p>\n",
       "Content-Type: text/html;\n charset=utf-8\nX-Form: apply",
       {{"cv.pdf", "%PDF-"}},
       "text/html"},
  };
  std::string conversation;
  for (const auto& c : cases) {
    MailHeader header = Header("Application", c.extra);
    header.boundary = "=_t.1";
    conversation += "DATA\r\n" +
                    Wire(ComposeMail(header, c.body, BodyKind::kText, Attached(c.files))) +
                    "\r\n.\r\n";
  }
  std::vector<ReadMail> mails = testing::ReadMailsWithPython(conversation);
  ASSERT_EQ(mails.size(), std::size(cases));
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const auto& c = cases[i];
    const ReadMail& m = mails[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(m.Header("MIME-Version"), "1.0");
    EXPECT_EQ(m.Header("Content-Type").value_or("").rfind("multipart/mixed", 0), 0u);
    EXPECT_EQ(m.Header("X-Form"), c.extra ? std::optional<std::string>("apply") : std::nullopt);
    ASSERT_EQ(m.parts.size(), 1 + c.files.size());
    EXPECT_EQ(m.parts[0].contentType, c.textType);
    EXPECT_EQ(m.parts[0].body, Crlf(c.body));
    for (std::size_t k = 0; k < c.files.size(); ++k) {
      EXPECT_EQ(m.parts[k + 1].fileName, c.files[k].first) << k;
      EXPECT_EQ(m.parts[k + 1].contentType, MediaTypeOf(c.files[k].first)) << k;
      EXPECT_EQ(m.parts[k + 1].body, c.files[k].second) << k;
    }
    EXPECT_TRUE(m.sevenBit);
    EXPECT_LE(m.longest, 998u);
    EXPECT_EQ(m.defects, 0);
  }
}

// PGP/MIME: the entity (text part with its own lines, the files) is what is
// encrypted; the mail around the armour is multipart/encrypted, and only
// the header lines stay outside.
TEST(ComposeEncryptedTest, EntityAndEnvelopeAsReadersTakeThemApart) {
  MailHeader header = Header("Secret", "Content-Type: text/plain; charset=utf-8\nX-Form: apply");
  header.boundary = "=_t.2";
  const Files files = {{"cv.pdf", AllBytes()}};
  const MimeEntity entity = EncryptedEntity(header, "Dear\n.\nyou\n", Attached(files));
  std::string entityText;
  for (std::string_view text : entity.Texts()) entityText += text;
  EXPECT_EQ(entityText.find('\r'), std::string::npos);
  const std::string armour = "-----BEGIN PGP MESSAGE-----\n\nhQEMA\n.\n-----END PGP MESSAGE-----";
  const ComposedMail mail = ComposeEncrypted(header, std::make_shared<const std::string>(armour));
  EXPECT_EQ(mail.text.find("Content-Type: text/plain"), std::string::npos) << mail.text;

  std::vector<ReadMail> mails = testing::ReadMailsWithPython(
      "DATA\r\n" + PrepareBodyForWire(entityText) + "\r\n.\r\nDATA\r\n" + Wire(mail) + "\r\n.\r\n");
  ASSERT_EQ(mails.size(), 2u);
  const ReadMail& inner = mails[0];
  EXPECT_EQ(inner.Header("Content-Type").value_or("").rfind("multipart/mixed", 0), 0u);
  ASSERT_EQ(inner.parts.size(), 2u);
  EXPECT_EQ(inner.parts[0].contentType, "text/plain");
  EXPECT_EQ(inner.parts[0].body, "Dear\r\n.\r\nyou\r\n");
  EXPECT_EQ(inner.parts[1].fileName, "cv.pdf");
  EXPECT_EQ(inner.parts[1].body, files[0].second);
  EXPECT_EQ(inner.defects, 0);

  const ReadMail& outer = mails[1];
  EXPECT_EQ(outer.Header("Subject"), "Secret");
  EXPECT_EQ(outer.Header("X-Form"), "apply");
  EXPECT_EQ(outer.Header("Content-Type"),
            "multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=\"=_t.2\"");
  ASSERT_EQ(outer.parts.size(), 2u);
  EXPECT_EQ(outer.parts[0].contentType, "application/pgp-encrypted");
  EXPECT_EQ(outer.parts[0].body, "Version: 1\r\n");
  EXPECT_EQ(outer.parts[1].contentType, "application/octet-stream");
  // An armour without a last line end gets one, which is the delimiter's.
  EXPECT_EQ(outer.parts[1].body, Crlf(armour));
  EXPECT_EQ(outer.defects, 0);
}

// A text fed in pieces, cut anywhere (inside CR LF, before a dot), goes
// out as the whole of it would.
TEST(WireWriterTest, PiecesGiveWhatTheWholeGives) {
  const std::string text = ".a\r\n.\rb\n\r\r\n..c\r";
  const std::string whole = PrepareBodyForWire(text);
  for (std::size_t a = 0; a <= text.size(); ++a) {
    for (std::size_t b = a; b <= text.size(); ++b) {
      std::string out;
      WireWriter writer;
      writer.Feed(text.substr(0, a), out);
      writer.Feed(text.substr(a, b - a), out);
      writer.Feed(text.substr(b), out);
      writer.Finish(out);
      EXPECT_EQ(out, whole) << a << " " << b;
    }
  }
}

TEST(PrepareBodyForWireTest, GivesCrLfAndStuffsEveryLeadingDot) {
  const struct {
    const char* name;
    std::string body;
    std::string want;
  } cases[] = {
      // clang-format off
      {"empty", "", ""}, {"no_line_end", "Hello", "Hello"}, {"lf", "Hello\nWorld", "Hello\r\nWorld"},
      {"crlf_kept_single", "a\r\nb", "a\r\nb"}, {"lone_cr", "a\rb", "a\r\nb"},
      {"cr_cr_lf", "a\r\r\nb", "a\r\n\r\nb"}, {"trailing_line_end_kept", "a\n", "a\r\n"},
      {"lone_dot_line", "a\n.\nb", "a\r\n..\r\nb"},
      {"lone_dots_in_a_row", "a\n.\n.\nb", "a\r\n..\r\n..\r\nb"},
      {"dot_then_text", "a\n.x\nb", "a\r\n..x\r\nb"}, {"dot_then_spaces", "a\n. \nb", "a\r\n.. \r\nb"},
      {"first_and_last_lines", ".\nmid\n.", "..\r\nmid\r\n.."},
      {"dot_after_crlf_from_a_value", "x\r\n.\r\ny", "x\r\n..\r\ny"},
      {"dot_after_lone_cr", "x\r.y", "x\r\n..y"},
      {"dot_inside_line_untouched", "a.b\n x.", "a.b\r\n x."},
      {"nul_and_high_bytes_kept", std::string("a\0\xff\n", 4), std::string("a\0\xff\r\n", 5)},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrepareBodyForWire(c.body), c.want) << c.name;
  }
}

TEST(PrepareBodyForWireTest, ConvertsManyLinesCompletely) {
  std::string body, want;
  for (int i = 0; i < 5000; ++i) {
    body += i % 3 == 0 ? ".\n" : "line\n";
    want += i % 3 == 0 ? "..\r\n" : "line\r\n";
  }
  EXPECT_EQ(PrepareBodyForWire(body), want);
}

// The form a body is kept in until the wire (and in which PGP sees it): LF
// only. The wire conversion then runs over it exactly once.
TEST(NormalizeLineEndsTest, GivesLfAndLeavesDotsForTheWire) {
  const std::string normal = NormalizeLineEnds("Hi\r\n.\rx\n..y\r");
  EXPECT_EQ(normal, "Hi\n.\nx\n..y\n");
  EXPECT_EQ(PrepareBodyForWire(normal), "Hi\r\n..\r\nx\r\n...y\r\n");
}

TEST(MailDateTest, NamesTheWeekdayAndTheZone) {
  const struct {
    platform::LocalTime time;
    const char* want;
  } cases[] = {
      {{1998, 3, 7, 14, 5, 9, 3600}, "Sat, 07 Mar 1998 14:05:09 +0100"},
      {{2000, 1, 1, 0, 0, 0, 0}, "Sat, 01 Jan 2000 00:00:00 +0000"},
      {{2001, 1, 1, 12, 0, 0, 19800}, "Mon, 01 Jan 2001 12:00:00 +0530"},
      {{2023, 12, 31, 9, 8, 7, -18000}, "Sun, 31 Dec 2023 09:08:07 -0500"},
      {{2024, 2, 29, 23, 59, 59, -12600}, "Thu, 29 Feb 2024 23:59:59 -0330"},
      {{2100, 2, 28, 1, 2, 3, 0}, "Sun, 28 Feb 2100 01:02:03 +0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MailDate(c.time), c.want);
  }
}

}  // namespace
}  // namespace veltrano
