#include "response/catalogue.hpp"

#include "response/log.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

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

constexpr std::string_view kTooLongMessage =
    "Your message body is over 15k (15360 bytes).  Please trim down in &lt;msgbody&gt; and/or "
    "&lt;rmsgbody&gt; in your template file";

constexpr std::string_view kMsgBodyFailureMessage =
    "Critical error occured with Veltrano.  Please contact developer and advise him that failure "
    "occured in the MsgBody() Function";

constexpr std::string_view kNoShellMessage =
    "An error occured while executing your external application.  Chances are that it did not "
    "execute correctly.  Please recheck <execute> tag info and retry.";

std::string EntryShown(std::string_view text) {
  return "\n<br><pre>&lt;" + std::string(text) + "&gt;</pre>";
}

std::string LineError(std::string_view what, std::string_view token) {
  return "Error identifying " + std::string(what) +
         ".  Please check your template file\n<br><pre>" + std::string(token) + "</pre>";
}

std::string MissingText(std::string_view attribute, std::string_view textAttribute,
                        std::string_view name) {
  return "You specified the " + std::string(attribute) + " attribute, but no associated " +
         std::string(textAttribute) + " attribute. Please check template file under &lt;NAME=\"" +
         std::string(name) + "\"";
}

}  // namespace

PageText PageFor(const Failure& f) {
  const std::string& t = f.text;
  switch (f.kind) {
    case FailureKind::kWrongProgramName:
      return {"Critical error", std::string(kCriticalErrorMessage)};
    case FailureKind::kNoCgiEnvironment:
      // Never shown as a page: the request writes the console message.
      return {std::nullopt, {}};
    case FailureKind::kOutOfResources:
      return {"Veltrano error", "The request could not be completed.  Please try again later."};
    case FailureKind::kNoTemplateName:
      return {"Template error",
              "A template filename was not specified in the form ACTION.  Please recheck html "
              "file"};
    case FailureKind::kTemplateNameRefused:
      return {"Template error",
              "The template filename in the form ACTION is not allowed.  Please recheck html "
              "file"};
    case FailureKind::kAliasWithoutFileName:
      return {"Template name missing",
              "The template alias dir was specifed, but the template filename was not -> " +
                  HtmlEscape(t)};
    case FailureKind::kTemplateUnreadable:
      return {"Error loading template file",
              "Error occured loading the template file.  Please contact your system "
              "administrator"};
    case FailureKind::kTagMissing:
      return {"Tag missing", "&lt;" + t + "&gt; is missing, please recheck your template file"};
    case FailureKind::kNoFieldEntry:
      return {"Template Error",
              "The FORMDATA section holds no field entry.  Please check your template file"};
    case FailureKind::kMissingClosingQuote:
      return {"Template Error",
              "A closing quotation mark was missing from the below line." + EntryShown(t)};
    case FailureKind::kBadNameLine:
      return {"Template Error", LineError("the name line", t)};
    case FailureKind::kBadRequiredErrLine:
      return {"Template Error", LineError("requiredErr line", t)};
    case FailureKind::kBadTypeErrLine:
      return {"Template Error", LineError("typeErr line", t)};
    case FailureKind::kBadMaxLenLine:
      return {"Template Error", LineError("MAXLEN line", t)};
    case FailureKind::kBadMaxLenErrLine:
      return {"Template Error", LineError("MAXLENERR line", t)};
    case FailureKind::kHtmlInErrorText:
      return {"Error in template file",
              "Error on " + t +
                  ".  HTML tags are not allowed.  Use &lt;errTemplate&gt; tag below to customize "
                  "your errors."};
    case FailureKind::kSendToWithRespondTo:
      return {"Bad command in template file",
              "If there is a &lt;sendto&gt; tag, then there cannot be a &lt;respondto&gt; tag"};
    case FailureKind::kRequiredWithoutText:
      return {"Veltrano template file error", MissingText("REQUIRED", "REQUIREDERR", t)};
    case FailureKind::kTypeWithoutText:
      return {"Veltrano template file error", MissingText("TYPE", "TYPEERR", t)};
    case FailureKind::kMaxLenWithoutText:
      return {"Veltrano template file error", MissingText("MAXLEN", "MAXLENERR", t)};
    case FailureKind::kEntryWithoutName:
      return {
          "Template Error",
          "A field entry has no NAME attribute.  Please check your template file" + EntryShown(t)};
    case FailureKind::kBadRateLimit:
      return {"Template Error",
              "The &lt;RATELIMIT&gt; section must hold an absolute file path, a number of "
              "submissions and a number of seconds.  Please check your template file" +
                  EntryShown(t)};
    case FailureKind::kTooManySubmissions:
      return {"Too many submissions",
              "Too many submissions from your address.  Please try again later.",
              "429 Too Many Requests"};
    case FailureKind::kNotPost:
      return {"Form Submit Error", "You must submit a form with a POST method."};
    case FailureKind::kNoContentLength:
      return {"No data", "Your browser didn't send any content.  Is it not POST capable?"};
    case FailureKind::kNegativeContentLength:
      return {"No data", "Your browser did not send any data from the form"};
    case FailureKind::kBodyTooLarge:
      return {"Form Submit Error", "The form data is too large."};
    case FailureKind::kInvalidEscape:
      return {"Veltrano error", "Invalid escape sequence"};
    case FailureKind::kMalformedMultipart:
      return {"Form Submit Error",
              "The form data could not be read: it is not valid "
              "multipart/form-data."};
    case FailureKind::kErrorPageUnreadable:
      return {"Load Failure",
              "Failed to load or locate the file specified in &lt;errTemplateFile&gt;"};
    case FailureKind::kErrorPageTooLarge:
      return {"Mail send error",
              "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down"};
    case FailureKind::kSuccessPageUnreadable:
      return {"Load Failure",
              "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;"};
    case FailureKind::kExpansionTooLong:
      return {"Mail send error", std::string(kTooLongMessage)};
    case FailureKind::kSmtpConnect:
      return {"Socket Initialization error", TranscriptHtml(f.transcript)};
    case FailureKind::kSmtpRefused:
      return {"SMTP Communication error", TranscriptHtml(f.transcript)};
    case FailureKind::kInvalidAddress:
      return {"Mail send error", "Invalid mail address: " + HtmlEscape(t)};
    case FailureKind::kRecipientRefused:
      return {"Mail send error", "Recipient not allowed: " + HtmlEscape(t)};
    case FailureKind::kAddressFileUnreadable:
      return {"Veltrano AdrFile error", "Address File could not be found or load error occured"};
    case FailureKind::kMailIncomplete:
      return {std::nullopt, std::string(kMsgBodyFailureMessage)};
    case FailureKind::kPgpNotStarted:
      return {std::nullopt, "pgp didn't run"};
    case FailureKind::kNoDataFileFormat:
      return {"Error writing to file", "A &lt;dfileformat&gt; was not specified."};
    case FailureKind::kNoShell:
      return {"Veltrano error", std::string(kNoShellMessage)};
  }
  return {"Veltrano error", "The request could not be completed.  Please try again later."};
}

namespace {

std::string_view WhatHappened(FailureKind kind) {
  switch (kind) {
    case FailureKind::kWrongProgramName:
      return "the program's path does not hold the name veltrano2.exe";
    case FailureKind::kNoCgiEnvironment:
      return "not run by a web server (REQUEST_METHOD is not set)";
    case FailureKind::kOutOfResources:
      return "the request could not be completed";
    case FailureKind::kNoTemplateName:
      return "no template name in the query string";
    case FailureKind::kTemplateNameRefused:
      return "template name refused, it holds";
    case FailureKind::kAliasWithoutFileName:
      return "alias without a file name";
    case FailureKind::kTemplateUnreadable:
      return "cannot read the template";
    case FailureKind::kTagMissing:
      return "template tag missing";
    case FailureKind::kNoFieldEntry:
      return "FORMDATA holds no field entry";
    case FailureKind::kMissingClosingQuote:
      return "field entry lacks a closing quotation mark";
    case FailureKind::kBadNameLine:
      return "field entry has a malformed NAME";
    case FailureKind::kBadRequiredErrLine:
      return "field entry has a malformed REQUIREDERR";
    case FailureKind::kBadTypeErrLine:
      return "field entry has a malformed TYPEERR";
    case FailureKind::kBadMaxLenLine:
      return "field entry has a malformed MAXLEN";
    case FailureKind::kBadMaxLenErrLine:
      return "field entry has a malformed MAXLENERR";
    case FailureKind::kHtmlInErrorText:
      return "HTML in a field's error text";
    case FailureKind::kSendToWithRespondTo:
      return "field entry has both sendto and respondto";
    case FailureKind::kRequiredWithoutText:
      return "required field without REQUIREDERR";
    case FailureKind::kTypeWithoutText:
      return "typed field without TYPEERR";
    case FailureKind::kMaxLenWithoutText:
      return "field with MAXLEN but without MAXLENERR";
    case FailureKind::kEntryWithoutName:
      return "field entry without NAME";
    case FailureKind::kBadRateLimit:
      return "malformed RATELIMIT section";
    case FailureKind::kTooManySubmissions:
      return "submission refused, over the rate limit";
    case FailureKind::kNotPost:
      return "form not sent with POST";
    case FailureKind::kNoContentLength:
      return "no CONTENT_LENGTH";
    case FailureKind::kNegativeContentLength:
      return "negative CONTENT_LENGTH";
    case FailureKind::kBodyTooLarge:
      return "form body over 1 MiB refused";
    case FailureKind::kInvalidEscape:
      return "invalid %-escape in the form body";
    case FailureKind::kMalformedMultipart:
      return "malformed multipart/form-data body";
    case FailureKind::kErrorPageUnreadable:
      return "cannot read the error page (ERRMSGFILE)";
    case FailureKind::kErrorPageTooLarge:
      return "error page over 15359 characters";
    case FailureKind::kSuccessPageUnreadable:
      return "cannot read the success page (SUCCEEDMSGFILE)";
    case FailureKind::kExpansionTooLong:
      return "expanded text over 15359 characters";
    case FailureKind::kSmtpConnect:
      return "cannot open the SMTP conversation";
    case FailureKind::kSmtpRefused:
      return "SMTP server refused";
    case FailureKind::kInvalidAddress:
      return "invalid mail address not sent";
    case FailureKind::kRecipientRefused:
      return "sendto address not in RECIPIENTS, no mail sent";
    case FailureKind::kAddressFileUnreadable:
      return "cannot read the address file (ADRFILE)";
    case FailureKind::kMailIncomplete:
      return "mail not sent";
    case FailureKind::kPgpNotStarted:
      return "cannot start pgp.exe";
    case FailureKind::kNoDataFileFormat:
      return "DFILE without DFILEFORMAT";
    case FailureKind::kNoShell:
      return "cannot start /bin/sh for EXECUTE";
  }
  return "failure";
}

std::string Joined(std::string_view what, std::string_view detail) {
  std::string line(what);
  if (!detail.empty()) {
    line += ": ";
    line += detail;
  }
  return line;
}

}  // namespace

std::string LogText(const Failure& failure) {
  return Joined(WhatHappened(failure.kind), failure.detail.empty() ? failure.text : failure.detail);
}

std::string LogText(NoticeKind kind, std::string_view detail) {
  switch (kind) {
    case NoticeKind::kMailWithoutServer:
      return Joined("no mail sent, the template has no SMTPSERVER, but asks for mail with", detail);
    case NoticeKind::kEmptyRecipient:
      return Joined("no mail sent to an empty recipient field", detail);
    case NoticeKind::kDataFileNotWritten:
      return Joined("data file line not written", detail);
    case NoticeKind::kCommandFailed:
      return Joined("EXECUTE command failed", detail);
    case NoticeKind::kHoneypotFilled:
      return Joined("honeypot filled in, submission discarded (no mail, command or record)",
                    detail);
    case NoticeKind::kRateLimitUnusable:
      return Joined("rate limit not applied, the state file cannot be used", detail);
    case NoticeKind::kRateLimitRepaired:
      return Joined("rate limit state file had unreadable lines, dropped", detail);
    case NoticeKind::kFileDropped:
      return Joined("uploaded file not mailed, its name stands as the value", detail);
    case NoticeKind::kReplyToInvalid:
      return Joined("no Reply-To header, REPLYTO is not a usable address", detail);
    case NoticeKind::kLongLineKept:
      return Joined(
          "body line over 998 bytes sent unsplit (the extra header sets the encoding), a server "
          "may refuse or break it",
          detail);
    case NoticeKind::kRcptRefused:
      return Joined("recipient refused by the SMTP server, the mail went on without it", detail);
    case NoticeKind::kResponseFailed:
      return Joined(
          "response mail not delivered, the submission went on (an earlier mail was accepted)",
          detail);
    case NoticeKind::kLogLinesDropped:
      return Joined("log lines dropped after the first " + std::to_string(kMaxNoticeLines) +
                        " of this request",
                    detail);
  }
  return std::string(detail);
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
