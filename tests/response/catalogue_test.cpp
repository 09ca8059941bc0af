#include "response/catalogue.hpp"

#include <gtest/gtest.h>

#include <set>

#include "response/log.hpp"

namespace veltrano {
namespace {

using Kind = TranscriptEntry::Kind;

const std::string kConnectionFailure =
    "An error occured while establishing a socketconnection.<br>\n"
    "Possible reasons include <ul>\n"
    "<li>A usable winsock.dll could not be found.\n"
    "<li>Your winsock.dll does not support 1.1 (It should unless you are using a very old "
    "version.\n"
    "<li>Veltrano could not resolve your hostname\n"
    "<li><b>Could not connect to the mail server (most likely problem)</b>\n"
    "<li>Your settings in the &lt;SMTPSERVER&gt; tag is incorrect\n"
    "</ul>";

Failure WithTranscript(FailureKind kind, Transcript transcript) {
  Failure f = Fail(kind);
  f.transcript = std::move(transcript);
  return f;
}

// Every kind's page, with the text a failure carries shown as it stands
// (template text) or HTML-escaped (query-string text and addresses).
TEST(PageForTest, EveryKindGivesItsPage) {
  struct Case {
    Failure failure;
    std::optional<std::string> title;
    std::string message;
  };
  const std::string nameLine =
      "Error identifying the name line.  Please check your template file\n<br><pre>";
  const std::string required =
      "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. Please "
      "check template file under &lt;NAME=\"";
  using enum FailureKind;
  const Case cases[] = {
      {Fail(kWrongProgramName), "Critical error",
       "A problem was encountered determining the working directory for Veltrano 2.0.  Please "
       "make sure the veltrano 2.0 executable is called 'veltrano2.exe'.  If the name is correct "
       "and problems remain, please contact the administrator of this web site.  Be sure to "
       "specify the type of web server you are running."},
      {Fail(kNoCgiEnvironment), std::nullopt,
       "Error occured while collecting some environment variables.\nChances are you are trying "
       "to run this program from the\ncommand line prompt.  It must be run as part of a cgi "
       "call\nfrom the web server."},
      {Fail(kOutOfResources), "Veltrano error",
       "The request could not be completed.  Please try again later."},
      {Fail(kUnexpected, {}, "vector::_M_range_check"), "Veltrano error",
       "The request could not be completed.  Please contact the administrator of this web site."},
      {Fail(kNoTemplateName), "Template error",
       "A template filename was not specified in the form ACTION.  Please recheck html file"},
      {Fail(kTemplateNameRefused, "<x>"), "Template error",
       "The template filename in the form ACTION is not allowed.  Please recheck html file"},
      {Fail(kAliasWithoutFileName, "<a&b>"), "Template name missing",
       "The template alias dir was specifed, but the template filename was not -> "
       "&lt;a&amp;b&gt;"},
      {Fail(kTemplateUnreadable, {}, "t.tpl: No such file or directory"),
       "Error loading template file",
       "Error occured loading the template file.  Please contact your system administrator"},
      {Fail(kTagMissing, "/SENDER"), "Tag missing",
       "&lt;/SENDER&gt; is missing, please recheck your template file"},
      {Fail(kNoFieldEntry), "Template Error",
       "The FORMDATA section holds no field entry.  Please check your template file"},
      {Fail(kMissingClosingQuote, "NAME=\"<b>"), "Template Error",
       "A closing quotation mark was missing from the below line.\n<br><pre>&lt;NAME=\"<b>&gt;"
       "</pre>"},
      {Fail(kBadNameLine, "NAME=<i>"), "Template Error", nameLine + "NAME=<i></pre>"},
      {Fail(kBadRequiredErrLine, "REQUIREDERR=x"), "Template Error",
       "Error identifying requiredErr line.  Please check your template file\n<br><pre>"
       "REQUIREDERR=x</pre>"},
      {Fail(kBadTypeErrLine, "TYPEERR=x"), "Template Error",
       "Error identifying typeErr line.  Please check your template file\n<br><pre>"
       "TYPEERR=x</pre>"},
      {Fail(kBadMaxLenLine, "MAXLEN=\"<5>\""), "Template Error",
       "Error identifying MAXLEN line.  Please check your template file\n<br><pre>"
       "MAXLEN=\"<5>\"</pre>"},
      {Fail(kBadMaxLenErrLine, "MAXLENERR=x"), "Template Error",
       "Error identifying MAXLENERR line.  Please check your template file\n<br><pre>"
       "MAXLENERR=x</pre>"},
      {Fail(kBadAttachLine, "ATTACH=\".pdf\""), "Template Error",
       "Error identifying ATTACH line.  Please check your template file\n<br><pre>"
       "ATTACH=\".pdf\"</pre>"},
      {Fail(kBadAttachErrLine, "ATTACHERR=x"), "Template Error",
       "Error identifying ATTACHERR line.  Please check your template file\n<br><pre>"
       "ATTACHERR=x</pre>"},
      {Fail(kHtmlInErrorText, "a<b"), "Error in template file",
       "Error on a<b.  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to "
       "customize your errors."},
      {Fail(kSendToWithRespondTo), "Bad command in template file",
       "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; tag"},
      {Fail(kRequiredWithoutText, "(null)"), "Veltrano template file error", required + "(null)\""},
      {Fail(kTypeWithoutText, "a&b"), "Veltrano template file error",
       "You specified the TYPE attribute, but no associated TYPEERR attribute. Please check "
       "template file under &lt;NAME=\"a&b\""},
      {Fail(kMaxLenWithoutText, "a"), "Veltrano template file error",
       "You specified the MAXLEN attribute, but no associated MAXLENERR attribute. Please check "
       "template file under &lt;NAME=\"a\""},
      {Fail(kAttachWithoutText, "cv"), "Veltrano template file error",
       "You specified the ATTACH attribute, but no associated ATTACHERR attribute. Please check "
       "template file under &lt;NAME=\"cv\""},
      {Fail(kEntryWithoutName, "sendto <x>"), "Template Error",
       "A field entry has no NAME attribute.  Please check your template file\n<br><pre>&lt;"
       "sendto <x>&gt;</pre>"},
      {Fail(kBadRateLimit, "x 5"), "Template Error",
       "The &lt;RATELIMIT&gt; section must hold an absolute file path, a number of submissions "
       "and a number of seconds.  Please check your template file\n<br><pre>&lt;x 5&gt;</pre>"},
      {Fail(kSenderNotAddress, "Form <f@x>"), "Template Error",
       "The &lt;SENDER&gt; section must hold one mail address (local@domain).  Please check your "
       "template file\n<br><pre>Form &lt;f@x&gt;</pre>"},
      {Fail(kStateFileIsDataFile), "Template Error",
       "The &lt;RATELIMIT&gt; state file and the &lt;DFILE&gt; data file must be two different "
       "files.  Please check your template file"},
      {Fail(kBadMaxUpload, "5M"), "Template Error",
       "The &lt;MAXUPLOAD&gt; section must hold a number of bytes from 1 to 66060288.  Please "
       "check your template file\n<br><pre>&lt;5M&gt;</pre>"},
      {Fail(kBadPgpMime, "yes"), "Template Error",
       "The &lt;PGPMIME&gt; section must be on or off.  Please check your template file\n<br>"
       "<pre>&lt;yes&gt;</pre>"},
      {Fail(kBadAllowOrigin, "https://a.example/"), "Template Error",
       "The &lt;ALLOWORIGIN&gt; section must hold * or origins written scheme://host or "
       "scheme://host:port, such as https://www.example.org.  Please check your template "
       "file\n<br><pre>https://a.example/</pre>"},
      {Fail(kBadSucceedUrl, "/thanks?$name$"), "Template Error",
       "The &lt;SUCCEEDURL&gt; section must hold an http or https URL or a path beginning with /, "
       "without placeholders, spaces or control characters.  Please check your template "
       "file\n<br><pre>/thanks?$name$</pre>"},
      {Fail(kNotPost), "Form Submit Error", "You must submit a form with a POST method."},
      {Fail(kNoContentLength), "No data",
       "Your browser didn't send any content.  Is it not POST capable?"},
      {Fail(kNegativeContentLength), "No data", "Your browser did not send any data from the form"},
      {Fail(kBodyTooLarge), "Form Submit Error", "The form data is too large."},
      {Fail(kShortBody), "Form Submit Error",
       "The form data did not arrive whole.  Please send the form again."},
      {Fail(kInvalidEscape), "Veltrano error", "Invalid escape sequence"},
      {Fail(kMalformedMultipart, {}, "no closing delimiter"), "Form Submit Error",
       "The form data could not be read: it is not valid multipart/form-data."},
      {Fail(kTooManySubmissions), "Too many submissions",
       "Too many submissions from your address.  Please try again later."},
      {Fail(kErrorPageUnreadable), "Load Failure",
       "Failed to load or locate the file specified in &lt;errTemplateFile&gt;"},
      {Fail(kErrorPageTooLarge), "Mail send error",
       "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down"},
      {Fail(kSuccessPageUnreadable), "Load Failure",
       "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;"},
      {Fail(kFailurePageUnreadable), "Load Failure",
       "Failed to load or locate the file specified in &lt;FatalMsgFile&gt;"},
      {Fail(kExpansionTooLong), "Mail send error",
       "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; "
       "and/or &lt;rmsgbody&gt; in your template file"},
      // A failed connection replaces whatever the transcript held.
      {WithTranscript(kSmtpConnect,
                      {{Kind::kProtocol, "220 hi\r\n"}, {Kind::kConnectionFailed, ""}}),
       "Socket Initialization error", kConnectionFailure},
      {WithTranscript(kSmtpConnect, {{Kind::kProtocol, "220 <mx>\r\n"},
                                     {Kind::kProtocol, "HELO h\r\n"},
                                     {Kind::kHeloRefused, "500 <no>\r\n"}}),
       "Socket Initialization error",
       "220 &lt;mx&gt;\r\nHELO h\r\n\nError occured while communicating with the mail server "
       "(SENDTO's HELO).  The mail server returned <p>500 &lt;no&gt;\r\n<p> "},
      {WithTranscript(kSmtpRefused, {{Kind::kProtocol, "MAIL FROM:<a&b@c>\r\n"},
                                     {Kind::kMailFromRefused, "553 <a&b@c> no"}}),
       "SMTP Communication error",
       "MAIL FROM:&lt;a&amp;b@c&gt;\r\n\nError occured while communicating with the mail server "
       "(SENDTO's MAIL FROM).  The mail server returned<p>553 &lt;a&amp;b@c&gt; no.<p> "},
      {Fail(kInvalidAddress, "<a@b>\r\n\"x'"), "Mail send error",
       "Invalid mail address: &lt;a@b&gt;\r\n&quot;x&#39;"},
      {Fail(kRecipientRefused, "Ann <a@b>"), "Mail send error",
       "Recipient not allowed: Ann &lt;a@b&gt;"},
      {Fail(kAddressFileUnreadable), "Veltrano AdrFile error",
       "Address File could not be found or load error occured"},
      {Fail(kMailIncomplete), std::nullopt,
       "Critical error occured with Veltrano.  Please contact developer and advise him that "
       "failure occured in the MsgBody() Function"},
      {Fail(kPgpNotStarted), std::nullopt, "pgp didn't run"},
      {Fail(kNoDataFileFormat), "Error writing to file",
       "A &lt;dfileformat&gt; was not specified."},
      {Fail(kNoShell), "Veltrano error",
       "An error occured while executing your external application.  Chances are that it did not "
       "execute correctly.  Please recheck <execute> tag info and retry."},
  };
  // What the visitor sent: no status (200 OK), as form mailers answer.
  const std::set<FailureKind> visitors = {
      kNoCgiEnvironment, kNotPost,         kNoContentLength, kNegativeContentLength,
      kBodyTooLarge,     kShortBody,       kInvalidEscape,   kMalformedMultipart,
      kInvalidAddress,   kRecipientRefused};
  auto wantStatus = [&visitors](FailureKind kind) -> std::string_view {
    if (kind == kTooManySubmissions) return "429 Too Many Requests";
    if (kind == kSmtpConnect || kind == kSmtpRefused) return "503 Service Unavailable";
    return visitors.count(kind) ? "" : "500 Internal Server Error";
  };
  std::set<FailureKind> covered;
  for (const Case& c : cases) {
    FailureKind kind = c.failure.kind;
    covered.insert(kind);
    PageText page = PageFor(c.failure);
    EXPECT_EQ(page.title, c.title) << "kind " << static_cast<int>(kind);
    EXPECT_EQ(page.message, c.message) << "kind " << static_cast<int>(kind);
    EXPECT_EQ(page.status, wantStatus(kind)) << "kind " << static_cast<int>(kind);
  }
  EXPECT_EQ(covered.size(), kFailureKindCount);
}

// What a script is told: the page's words as plain text, and a status even
// where the page has none.
TEST(PlainTextForTest, GivesTitleMessageAndStatusWithoutHtml) {
  using enum FailureKind;
  const struct {
    Failure failure;
    std::string title, message, status;
  } cases[] = {
      {Fail(kNotPost), "Form Submit Error", "You must submit a form with a POST method.",
       "405 Method Not Allowed"},
      {Fail(kBodyTooLarge), "Form Submit Error", "The form data is too large.",
       "413 Content Too Large"},
      {Fail(kInvalidEscape), "Veltrano error", "Invalid escape sequence", "400 Bad Request"},
      {Fail(kInvalidAddress, "<a@b>\r\n"), "Mail send error", "Invalid mail address: <a@b>\r\n",
       "400 Bad Request"},
      {Fail(kTooManySubmissions), "Too many submissions",
       "Too many submissions from your address.  Please try again later.", "429 Too Many Requests"},
      {Fail(kMissingClosingQuote, "NAME=\"a"), "Template Error",
       "A closing quotation mark was missing from the below line. <NAME=\"a>",
       "500 Internal Server Error"},
      {Fail(kTagMissing, "/SENDER"), "Tag missing",
       "</SENDER> is missing, please recheck your template file", "500 Internal Server Error"},
      {Fail(kNoShell), "Veltrano error",
       "An error occured while executing your external application.  Chances are that it did not "
       "execute correctly.  Please recheck tag info and retry.",
       "500 Internal Server Error"},
      {Fail(kPgpNotStarted), "", "pgp didn't run", "500 Internal Server Error"},
      // The mail server's words stay out.
      {WithTranscript(kSmtpConnect, {{Kind::kConnectionFailed, ""}}), "Socket Initialization error",
       "The mail server could not be reached.  Please try again later.", "503 Service Unavailable"},
      {WithTranscript(kSmtpRefused, {{Kind::kProtocol, "550 no such user root\r\n"}}),
       "SMTP Communication error",
       "The mail server did not accept the mail.  Please try again later.",
       "503 Service Unavailable"},
  };
  for (const auto& c : cases) {
    const FailureText text = PlainTextFor(c.failure);
    EXPECT_EQ(text.title, c.title) << c.message;
    EXPECT_EQ(text.message, c.message) << c.message;
    EXPECT_EQ(text.status, c.status) << c.message;
  }
}

TEST(LogTextTest, SaysWhatHappenedThenTheDetail) {
  using enum FailureKind;
  EXPECT_EQ(LogText(Fail(kTemplateUnreadable, {}, "t.tpl: Permission denied")),
            "cannot read the template: t.tpl: Permission denied");
  // Without a detail the failure's text stands in; without either, just what happened.
  EXPECT_EQ(LogText(Fail(kInvalidAddress, "a@b\r\n")), "invalid mail address not sent: a@b\r\n");
  EXPECT_EQ(LogText(Fail(kNoTemplateName)), "no template name in the query string");
  EXPECT_EQ(LogText(NoticeKind::kDataFileNotWritten, "/d/x.txt: Permission denied"),
            "data file line not written: /d/x.txt: Permission denied");
}

const platform::LocalTime kAt{2026, 12, 7, 18, 2, 11, 3600, 0};

// The fields before the message: each without a space, "-" for none, and
// short enough to leave the message its room.
TEST(LogLineTest, StartsWithTimeClientTemplateAndPid) {
  const std::string t = "2026-12-07T18:02:11+01:00 ";
  const std::string m = " 4242 veltrano2.exe: m";
  const struct {
    const char* name;
    std::string client, tpl, want;
  } cases[] = {
      {"both", "203.0.113.9", "forms/contact.tpl", t + "203.0.113.9 forms/contact.tpl" + m},
      {"none", "", "", t + "- -" + m},
      {"a_dash_is_not_none", "-", "-", t + "\\x2d \\x2d" + m},
      {"spaces_and_controls", "::1 x", "a b\r\n\\", t + "::1\\x20x a\\x20b\\x0d\\x0a\\x5c" + m},
      {"long_template_cut", "", std::string(300, 'a'),
       t + "- " + std::string(197, 'a') + "..." + m},
      {"cut_before_an_escape", "", std::string(196, 'a') + " b",
       t + "- " + std::string(196, 'a') + "..." + m},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogLine({kAt, c.client, c.tpl, 4242}, "m"), c.want) << c.name;
  }
}

TEST(LogLineTest, KeepsTheMessageToPrintableAscii) {
  // Control bytes, DEL, bytes above 0x7F and the backslash are escaped;
  // space and '~' are printable.
  EXPECT_EQ(LogLine({kAt, "", "t", 1}, std::string("\x1b[31m \\x ~\x7f\xff\0!", 14)),
            "2026-12-07T18:02:11+01:00 - t 1 veltrano2.exe: \\x1b[31m \\x5cx ~\\x7f\\xff\\x00!");
}

TEST(LogLineTest, CutsAtTheLimitWithoutSplittingAnEscape) {
  const std::string prefix = "2026-12-07T18:02:11+01:00 - t 4242 veltrano2.exe: ";
  auto line = [](std::string_view text) { return LogLine({kAt, "", "t", 4242}, text); };
  // Exactly at the limit: kept whole.
  std::string exact(kMaxLogLine - prefix.size(), 'a');
  EXPECT_EQ(line(exact), prefix + exact);
  // An escape ending at or after every position around the cut.
  for (std::size_t at = kMaxLogLine - 8; at <= kMaxLogLine + 2; ++at) {
    std::string text = std::string(at - prefix.size(), 'a') + "\n" + std::string(50, 'b');
    std::string got = line(text);
    ASSERT_LE(got.size(), kMaxLogLine) << at;
    ASSERT_TRUE(got.ends_with("...")) << at;
    std::string kept = got.substr(0, got.size() - 3);
    EXPECT_EQ(kept, (prefix + std::string(at - prefix.size(), 'a') + "\\x0a" + std::string(50, 'b'))
                        .substr(0, kept.size()))
        << at;
    std::size_t escape = kept.rfind("\\x");
    if (escape != std::string::npos) {
      EXPECT_GE(kept.size() - escape, 4u) << at;
    }
    EXPECT_GE(kept.size(), kMaxLogLine - 6) << at;
  }
}

}  // namespace
}  // namespace veltrano
