#include "response/catalogue.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "model/template.hpp"
#include "response/log.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// What a page shows of its failure, between the row's fixed texts.
enum class Shown {
  kNothing,     // the message is fixed
  kAsWritten,   // the failure's text as it stands: the administrator's template text
  kEscaped,     // the failure's text HTML-escaped: the visitor's or the query string's
  kTranscript,  // the SMTP conversation (TranscriptHtml)
};

// The statuses. A page caused by what the visitor sent has none: it goes out
// as the web server's 200 OK, as form mailers have always answered it.
constexpr std::string_view kNoStatus = "";
constexpr std::string_view k429 = "429 Too Many Requests";
constexpr std::string_view k500 = "500 Internal Server Error";  // the administrator must act
constexpr std::string_view k503 = "503 Service Unavailable";    // the mail server did not serve
// What a script is told instead of a page for what the visitor sent.
constexpr std::string_view k400 = "400 Bad Request";
constexpr std::string_view k405 = "405 Method Not Allowed";
constexpr std::string_view k413 = "413 Content Too Large";

struct PageRow {
  FailureKind kind;
  std::optional<std::string_view> title;  // none: the page has no title line
  std::string_view lead;                  // fixed HTML before what is shown
  Shown shown;
  std::string_view tail;   // fixed HTML after what is shown
  std::string_view words;  // what happened, for the log
  std::string_view status;
  // The status of the JSON answer; empty: the page's. Pages caused by what
  // the visitor sent have none, and a script needs one.
  std::string_view jsonStatus = {};
  // The message of the JSON answer; empty: the page's as plain text.
  // Only the rows whose page is the SMTP conversation need one.
  std::string_view plain = {};
};

// Started by hand, without a CGI environment: a plain text with no header.
constexpr std::string_view kConsoleMessage =
    "Error occured while collecting some environment variables.\n"
    "Chances are you are trying to run this program from the\n"
    "command line prompt.  It must be run as part of a cgi call\n"
    "from the web server.";

constexpr std::string_view kCriticalErrorMessage =
    "A problem was encountered determining the working directory for Veltrano 2.0.  Please make "
    "sure the veltrano 2.0 executable is called 'veltrano2.exe'.  If the name is correct and "
    "problems remain, please contact the administrator of this web site.  Be sure to specify the "
    "type of web server you are running.";

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

using enum FailureKind;
using enum Shown;

// One row per kind, in the order of FailureKind.
constexpr PageRow kPages[] = {
    {kWrongProgramName, "Critical error", kCriticalErrorMessage, kNothing, "",
     "the program's path does not hold the name veltrano2.exe", k500},
    {kNoCgiEnvironment, std::nullopt, kConsoleMessage, kNothing, "",
     "not run by a web server (REQUEST_METHOD is not set)", kNoStatus},
    {kOutOfResources, "Veltrano error",
     "The request could not be completed.  Please try again later.", kNothing, "",
     "out of resources, the request could not be completed", k500},
    {kUnexpected, "Veltrano error",
     "The request could not be completed.  Please contact the administrator of this web site.",
     kNothing, "", "internal error, the request could not be completed", k500},
    {kNoTemplateName, "Template error",
     "A template filename was not specified in the form ACTION.  Please recheck html file",
     kNothing, "", "no template name in the query string", k500},
    {kTemplateNameRefused, "Template error",
     "The template filename in the form ACTION is not allowed.  Please recheck html file", kNothing,
     "", "template name refused, it holds", k500},
    {kAliasWithoutFileName, "Template name missing",
     "The template alias dir was specifed, but the template filename was not -> ", kEscaped, "",
     "alias without a file name", k500},
    {kTemplateUnreadable, "Error loading template file",
     "Error occured loading the template file.  Please contact your system administrator", kNothing,
     "", "cannot read the template", k500},
    {kTagMissing, "Tag missing", "&lt;", kAsWritten,
     "&gt; is missing, please recheck your template file", "template tag missing", k500},
    {kNoFieldEntry, "Template Error",
     "The FORMDATA section holds no field entry.  Please check your template file", kNothing, "",
     "FORMDATA holds no field entry", k500},
    {kMissingClosingQuote, "Template Error",
     "A closing quotation mark was missing from the below line.\n<br><pre>&lt;", kAsWritten,
     "&gt;</pre>", "field entry lacks a closing quotation mark", k500},
    {kBadNameLine, "Template Error",
     "Error identifying the name line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed NAME", k500},
    {kBadRequiredErrLine, "Template Error",
     "Error identifying requiredErr line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed REQUIREDERR", k500},
    {kBadTypeErrLine, "Template Error",
     "Error identifying typeErr line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed TYPEERR", k500},
    {kBadMaxLenLine, "Template Error",
     "Error identifying MAXLEN line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed MAXLEN", k500},
    {kBadMaxLenErrLine, "Template Error",
     "Error identifying MAXLENERR line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed MAXLENERR", k500},
    {kBadAttachLine, "Template Error",
     "Error identifying ATTACH line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed ATTACH", k500},
    {kBadAttachErrLine, "Template Error",
     "Error identifying ATTACHERR line.  Please check your template file\n<br><pre>", kAsWritten,
     "</pre>", "field entry has a malformed ATTACHERR", k500},
    {kHtmlInErrorText, "Error in template file", "Error on ", kAsWritten,
     ".  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to customize your errors.",
     "HTML in a field's error text", k500},
    {kSendToWithRespondTo, "Bad command in template file",
     "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; tag", kNothing, "",
     "field entry has both sendto and respondto", k500},
    {kRequiredWithoutText, "Veltrano template file error",
     "You specified the REQUIRED attribute, but no associated REQUIREDERR attribute. Please check "
     "template file under &lt;NAME=\"",
     kAsWritten, "\"", "required field without REQUIREDERR", k500},
    {kTypeWithoutText, "Veltrano template file error",
     "You specified the TYPE attribute, but no associated TYPEERR attribute. Please check "
     "template file under &lt;NAME=\"",
     kAsWritten, "\"", "typed field without TYPEERR", k500},
    {kMaxLenWithoutText, "Veltrano template file error",
     "You specified the MAXLEN attribute, but no associated MAXLENERR attribute. Please check "
     "template file under &lt;NAME=\"",
     kAsWritten, "\"", "field with MAXLEN but without MAXLENERR", k500},
    {kAttachWithoutText, "Veltrano template file error",
     "You specified the ATTACH attribute, but no associated ATTACHERR attribute. Please check "
     "template file under &lt;NAME=\"",
     kAsWritten, "\"", "field with ATTACH but without ATTACHERR", k500},
    {kEntryWithoutName, "Template Error",
     "A field entry has no NAME attribute.  Please check your template file\n<br><pre>&lt;",
     kAsWritten, "&gt;</pre>", "field entry without NAME", k500},
    {kBadRateLimit, "Template Error",
     "The &lt;RATELIMIT&gt; section must hold an absolute file path, a number of submissions and "
     "a number of seconds.  Please check your template file\n<br><pre>&lt;",
     kAsWritten, "&gt;</pre>", "malformed RATELIMIT section", k500},
    {kSenderNotAddress, "Template Error",
     "The &lt;SENDER&gt; section must hold one mail address (local@domain).  Please check your "
     "template file\n<br><pre>",
     kEscaped, "</pre>", "SENDER is not a plain address (local@domain)", k500},
    {kStateFileIsDataFile, "Template Error",
     "The &lt;RATELIMIT&gt; state file and the &lt;DFILE&gt; data file must be two different "
     "files.  Please check your template file",
     kNothing, "", "RATELIMIT and DFILE name one file", k500},
    {kBadMaxUpload, "Template Error",
     "The &lt;MAXUPLOAD&gt; section must hold a number of bytes from 1 to 66060288.  Please check "
     "your template file\n<br><pre>&lt;",
     kAsWritten, "&gt;</pre>", "malformed MAXUPLOAD section", k500},
    {kBadPgpMime, "Template Error",
     "The &lt;PGPMIME&gt; section must be on or off.  Please check your template "
     "file\n<br><pre>&lt;",
     kAsWritten, "&gt;</pre>", "malformed PGPMIME section", k500},
    {kBadAllowOrigin, "Template Error",
     "The &lt;ALLOWORIGIN&gt; section must hold * or origins written scheme://host or "
     "scheme://host:port, such as https://www.example.org.  Please check your template "
     "file\n<br><pre>",
     kEscaped, "</pre>", "ALLOWORIGIN entry is not an origin (scheme://host[:port])", k500},
    {kBadSucceedUrl, "Template Error",
     "The &lt;SUCCEEDURL&gt; section must hold an http or https URL or a path beginning with /, "
     "without placeholders, spaces or control characters.  Please check your template "
     "file\n<br><pre>",
     kEscaped, "</pre>", "SUCCEEDURL is not an http(s) URL or a path", k500},
    {kNotPost, "Form Submit Error", "You must submit a form with a POST method.", kNothing, "",
     "form not sent with POST", kNoStatus, k405},
    {kNoContentLength, "No data", "Your browser didn't send any content.  Is it not POST capable?",
     kNothing, "", "no CONTENT_LENGTH", kNoStatus, k400},
    {kNegativeContentLength, "No data", "Your browser did not send any data from the form",
     kNothing, "", "negative CONTENT_LENGTH", kNoStatus, k400},
    {kBodyTooLarge, "Form Submit Error", "The form data is too large.", kNothing, "",
     "form body over its size limit refused", kNoStatus, k413},
    {kShortBody, "Form Submit Error",
     "The form data did not arrive whole.  Please send the form again.", kNothing, "",
     "form body shorter than CONTENT_LENGTH, not read as a form", kNoStatus, k400},
    {kInvalidEscape, "Veltrano error", "Invalid escape sequence", kNothing, "",
     "invalid %-escape in the form body", kNoStatus, k400},
    {kMalformedMultipart, "Form Submit Error",
     "The form data could not be read: it is not valid multipart/form-data.", kNothing, "",
     "malformed multipart/form-data body", kNoStatus, k400},
    {kTooManySubmissions, "Too many submissions",
     "Too many submissions from your address.  Please try again later.", kNothing, "",
     "submission refused, over the rate limit", k429},
    {kErrorPageUnreadable, "Load Failure",
     "Failed to load or locate the file specified in &lt;errTemplateFile&gt;", kNothing, "",
     "cannot read the error page (ERRMSGFILE)", k500},
    {kErrorPageTooLarge, "Mail send error",
     "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down", kNothing, "",
     "error page over 15359 characters", k500},
    {kSuccessPageUnreadable, "Load Failure",
     "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;", kNothing, "",
     "cannot read the success page (SUCCEEDMSGFILE)", k500},
    {kFailurePageUnreadable, "Load Failure",
     "Failed to load or locate the file specified in &lt;FatalMsgFile&gt;", kNothing, "",
     "cannot read the failure page (FATALMSGFILE)", k500},
    {kExpansionTooLong, "Mail send error",
     "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; and/or "
     "&lt;rmsgbody&gt; in your template file",
     kNothing, "", "expanded text over 15359 characters", k500},
    {kSmtpConnect, "Socket Initialization error", "", kTranscript, "",
     "cannot open the SMTP conversation", k503, k503,
     "The mail server could not be reached.  Please try again later."},
    {kSmtpRefused, "SMTP Communication error", "", kTranscript, "", "SMTP conversation failed",
     k503, k503, "The mail server did not accept the mail.  Please try again later."},
    {kInvalidAddress, "Mail send error", "Invalid mail address: ", kEscaped, "",
     "invalid mail address not sent", kNoStatus, k400},
    {kRecipientRefused, "Mail send error", "Recipient not allowed: ", kEscaped, "",
     "sendto address not in RECIPIENTS, no mail sent", kNoStatus, k400},
    {kAddressFileUnreadable, "Veltrano AdrFile error",
     "Address File could not be found or load error occured", kNothing, "",
     "cannot read the address file (ADRFILE)", k500},
    {kMailIncomplete, std::nullopt,
     "Critical error occured with Veltrano.  Please contact developer and advise him that failure "
     "occured in the MsgBody() Function",
     kNothing, "", "mail not sent", k500},
    {kPgpNotStarted, std::nullopt, "pgp didn't run", kNothing, "", "cannot start pgp.exe", k500},
    {kNoDataFileFormat, "Error writing to file", "A &lt;dfileformat&gt; was not specified.",
     kNothing, "", "DFILE without DFILEFORMAT", k500},
    {kNoShell, "Veltrano error",
     "An error occured while executing your external application.  Chances are that it did not "
     "execute correctly.  Please recheck <execute> tag info and retry.",
     kNothing, "", "cannot start /bin/sh for EXECUTE", k500},
};

struct NoticeRow {
  NoticeKind kind;
  std::string_view words;  // what happened, for the log
};

// The page of kBadMaxUpload names the largest MAXUPLOAD.
static_assert(kMaxUploadCeiling == 66060288);

// The words of kLogLinesDropped name the limit.
static_assert(kMaxNoticeLines == 20);

// One row per kind, in the order of NoticeKind.
constexpr NoticeRow kNotices[] = {
    {NoticeKind::kMailWithoutServer,
     "no mail sent, the template has no SMTPSERVER, but asks for mail with"},
    {NoticeKind::kEmptyRecipient, "no mail sent to an empty recipient field"},
    {NoticeKind::kDataFileNotWritten, "data file line not written"},
    {NoticeKind::kCommandFailed, "EXECUTE command failed"},
    {NoticeKind::kHoneypotFilled,
     "honeypot filled in, submission discarded (no mail, command or record)"},
    {NoticeKind::kRateLimitUnusable, "rate limit not applied, the state file cannot be used"},
    {NoticeKind::kRateLimitRepaired, "rate limit state file had unreadable lines, dropped"},
    {NoticeKind::kFileDropped, "uploaded file not mailed, its field has no ATTACH or has a file"},
    {NoticeKind::kReplyToInvalid, "no Reply-To header, REPLYTO is not a usable address"},
    {NoticeKind::kLongLineKept,
     "body line over 998 bytes sent unsplit (the extra header sets the encoding), a server may "
     "refuse or break it"},
    {NoticeKind::kRcptRefused, "recipient refused by the SMTP server, the mail went on without it"},
    {NoticeKind::kResponseFailed,
     "response mail not delivered, the submission went on (an earlier mail was accepted)"},
    {NoticeKind::kAliasFileUnusable, "alias file not used, names are taken as they stand"},
    {NoticeKind::kFailurePageNotUsed,
     "failure page (FATALMSGFILE) not used, the built-in page went out instead"},
    {NoticeKind::kLogLinesDropped, "log lines dropped after the first 20 of this request"},
};

// Each table holds every kind once, at the index of its kind, so a kind
// can't be added without its row.
template <typename Row, std::size_t N>
constexpr bool OneRowPerKind(const Row (&rows)[N], std::size_t kinds) {
  if (N != kinds) return false;
  for (std::size_t i = 0; i < N; ++i) {
    if (static_cast<std::size_t>(rows[i].kind) != i) return false;
  }
  return true;
}
static_assert(OneRowPerKind(kPages, kFailureKindCount));
static_assert(OneRowPerKind(kNotices, kNoticeKindCount));

// A JSON answer always has a status; only the console message never is one.
template <std::size_t N>
constexpr bool EveryJsonAnswerHasStatus(const PageRow (&rows)[N]) {
  for (const PageRow& row : rows) {
    if (row.kind != kNoCgiEnvironment && row.status.empty() && row.jsonStatus.empty()) return false;
  }
  return true;
}
static_assert(EveryJsonAnswerHasStatus(kPages));

std::string Joined(std::string_view what, std::string_view detail) {
  std::string line(what);
  if (!detail.empty()) {
    line += ": ";
    line += detail;
  }
  return line;
}

// The fixed HTML of a message as plain text: tags dropped with the spaces
// they leave doubled, line ends made spaces, the entities the catalogue
// uses decoded.
[[gnu::cold]] std::string PlainFromHtml(std::string_view html) {
  constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string plain;
  for (std::size_t i = 0; i < html.size();) {
    const char c = html[i];
    if (c == '<' && html.find('>', i) != std::string_view::npos) {
      i = html.find('>', i) + 1;
      if (plain.ends_with(' ')) i = std::min(html.find_first_not_of(' ', i), html.size());
      continue;
    }
    if (c == '\n') {
      if (!plain.empty() && !plain.ends_with(' ')) plain += ' ';
      ++i;
      continue;
    }
    const auto entity =
        std::find_if(std::begin(kEntities), std::end(kEntities),
                     [&](const auto& e) { return html.substr(i).starts_with(e.first); });
    if (entity != std::end(kEntities)) {
      plain += entity->second;
      i += entity->first.size();
      continue;
    }
    plain += c;
    ++i;
  }
  return plain;
}

}  // namespace

PageText PageFor(const Failure& f) {
  const PageRow& row = kPages[static_cast<std::size_t>(f.kind)];
  PageText page;
  if (row.title) page.title = std::string(*row.title);
  page.message = row.lead;
  switch (row.shown) {
    case kNothing:
      break;
    case kAsWritten:
      page.message += f.text;
      break;
    case kEscaped:
      page.message += HtmlEscape(f.text);
      break;
    case kTranscript:
      page.message += TranscriptHtml(f.transcript);
      break;
  }
  page.message += row.tail;
  page.status = row.status;
  return page;
}

[[gnu::cold]] FailureText PlainTextFor(const Failure& f) {
  const PageRow& row = kPages[static_cast<std::size_t>(f.kind)];
  FailureText text;
  text.title = row.title.value_or("");
  if (!row.plain.empty()) {
    text.message = row.plain;
  } else {
    text.message = PlainFromHtml(row.lead);
    if (row.shown == kAsWritten || row.shown == kEscaped) text.message += f.text;
    text.message += PlainFromHtml(row.tail);
  }
  text.status = row.jsonStatus.empty() ? row.status : row.jsonStatus;
  return text;
}

std::string LogText(const Failure& failure) {
  return Joined(kPages[static_cast<std::size_t>(failure.kind)].words,
                failure.detail.empty() ? failure.text : failure.detail);
}

std::string LogText(NoticeKind kind, std::string_view detail) {
  return Joined(kNotices[static_cast<std::size_t>(kind)].words, detail);
}

std::string TranscriptHtml(const Transcript& transcript) {
  std::string html;
  for (const TranscriptEntry& entry : transcript) {
    switch (entry.kind) {
      case TranscriptEntry::Kind::kProtocol:
        html += HtmlEscape(entry.text);
        break;
      case TranscriptEntry::Kind::kConnectionFailed:
        html = kConnectionFailure;
        break;
      case TranscriptEntry::Kind::kHeloRefused:
        html +=
            "\nError occured while communicating with the mail server (SENDTO's HELO).  The "
            "mail server returned <p>" +
            HtmlEscape(entry.text) + "<p> ";
        break;
      case TranscriptEntry::Kind::kMailFromRefused:
        html +=
            "\nError occured while communicating with the mail server (SENDTO's MAIL FROM).  "
            "The mail server returned<p>" +
            HtmlEscape(entry.text) + ".<p> ";
        break;
    }
  }
  return html;
}

}  // namespace veltrano
