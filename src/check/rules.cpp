#include "check/rules.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "expand/placeholders.hpp"
#include "mail/deliver_mail.hpp"
#include "mail/smtp_client.hpp"
#include "model/failure.hpp"
#include "response/catalogue.hpp"
#include "template/sections.hpp"
#include "text/address.hpp"
#include "text/text.hpp"

namespace veltrano::check {

namespace {

// The variables a web server sets for a CGI program: the meta-variables of
// RFC 3875 and those Apache, nginx and lighttpd add. HTTP_* (the request's
// header lines) are known too.
constexpr std::array<std::string_view, 32> kServerVariables = {
    "AUTH_TYPE",        "CONTENT_LENGTH",  "CONTENT_TYPE",   "GATEWAY_INTERFACE",
    "PATH_INFO",        "PATH_TRANSLATED", "QUERY_STRING",   "REMOTE_ADDR",
    "REMOTE_HOST",      "REMOTE_IDENT",    "REMOTE_USER",    "REQUEST_METHOD",
    "SCRIPT_NAME",      "SERVER_NAME",     "SERVER_PORT",    "SERVER_PROTOCOL",
    "SERVER_SOFTWARE",  "REQUEST_URI",     "DOCUMENT_ROOT",  "SCRIPT_FILENAME",
    "SERVER_ADDR",      "REMOTE_PORT",     "HTTPS",          "SERVER_ADMIN",
    "SERVER_SIGNATURE", "REQUEST_SCHEME",  "CONTEXT_PREFIX", "CONTEXT_DOCUMENT_ROOT",
    "DOCUMENT_URI",     "REDIRECT_STATUS", "UNIQUE_ID",      "PATH"};

// How much of a placeholder's name a line shows: a lone "$" makes the rest
// of a text one long name.
constexpr std::size_t kShownNameLength = 40;

std::optional<std::size_t> FieldNamed(const std::vector<FieldDefinition>& fields,
                                      std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (EqualsNoCase(fields[i].name, name)) return i;
  }
  return std::nullopt;
}

bool IsKnownName(std::string_view name, const std::vector<FieldDefinition>& fields) {
  if (FieldNamed(fields, name)) return true;
  if (name == "systemtime" || name == "systemdate") return true;
  // Such a name never reaches the environment (expand/placeholders.hpp).
  if (name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) return false;
  const std::string upper = AsciiUpper(name);
  if (upper.starts_with("HTTP_") && upper.size() > 5) return true;
  return std::find(kServerVariables.begin(), kServerVariables.end(), upper) !=
         kServerVariables.end();
}

bool HasPlaceholder(std::string_view text) {
  return text.find('$') != std::string_view::npos;
}

// A fixed address section: its text as it is used, when it holds no
// placeholder.
void CheckFixedAddress(std::string_view section, std::string text, Findings& out) {
  if (HasPlaceholder(text)) return;
  text = CollapseLineBreaks(text);
  Trim(text);
  if (section == "REPLYTO" && text.empty()) return;  // no header, as meant
  if (!IsPlainAddress(text)) {
    out.Error(std::string(section) + " is not a plain address (local@domain): " + Shown(text));
  }
}

void CheckRecipients(const Template& t, Findings& out) {
  if (!t.abuse.recipients) return;
  for (const std::string& entry : *t.abuse.recipients) {
    const bool plain = entry.starts_with('@') ? IsPlainAddress("x" + entry) : IsPlainAddress(entry);
    if (!plain) {
      out.Error("RECIPIENTS entry is neither a plain address nor @domain, so nothing matches it: " +
                Shown(entry));
    }
  }
  const bool sendTo = std::any_of(t.fields.begin(), t.fields.end(),
                                  [](const FieldDefinition& f) { return f.sendTo; });
  if (t.abuse.recipients->empty() && sendTo && t.mail) {
    out.Error("RECIPIENTS lists no address: every sendto value is refused");
  }
}

// DEBUG and DFILEGUARD each take one word; any other text leaves the switch
// as it is without a word, which is never what was meant.
void CheckSwitch(std::string_view text, std::string_view tag, Findings& out) {
  std::optional<std::string> value = Section(text, tag);
  if (!value) return;
  Trim(*value);
  if (!EqualsNoCase(*value, "on") && !EqualsNoCase(*value, "off")) {
    out.Error(std::string(tag) + " is neither on nor off: " + Shown(*value));
  }
}

// Response mails go to any address a visitor types; a field quoted in them
// carries the visitor's words to it. Without RSUBJECT they are the main
// subject and body.
void CheckResponseQuotes(const Template& t, Findings& out) {
  const bool responds = std::any_of(t.fields.begin(), t.fields.end(),
                                    [](const FieldDefinition& f) { return f.respondTo; });
  if (!t.mail || !t.responseBody || !responds) return;
  const bool own = t.responseSubject.has_value();
  const std::pair<std::string_view, std::string_view> texts[] = {
      {own ? "RSUBJECT" : "SUBJECT", own ? *t.responseSubject : t.mail->subject},
      {own ? "RMSGBODY" : "MSGBODY", own ? *t.responseBody : t.mail->messageBody}};
  for (const auto& [section, text] : texts) {
    std::set<std::size_t> quoted;
    for (std::string_view name : PlaceholderNames(text)) {
      std::optional<std::size_t> field = FieldNamed(t.fields, name);
      // The address the mail goes to tells its reader nothing new.
      if (!field || t.fields[*field].respondTo || !quoted.insert(*field).second) continue;
      out.Warning("the response mail quotes field " + Shown(t.fields[*field].name) + " in " +
                  std::string(section) +
                  ": a visitor's words go to an address nobody has verified");
    }
  }
}

void CheckAbuseWarnings(const CheckedTemplate& checked, Findings& out) {
  const Template& t = checked.t;
  if (t.abuse.debugAllowed) {
    out.Warning("DEBUG is not off: any visitor can add &debug and read the SMTP conversation");
  }
  if (!t.mail) {
    if (std::string asked = UnsentMail(t); !asked.empty()) {
      out.Warning("no SMTPSERVER, so no mail is sent, though the template asks for it: " + asked);
    }
    return;
  }
  if (!t.abuse.recipients) {
    for (const FieldDefinition& field : t.fields) {
      if (!field.sendTo) continue;
      out.Warning("sendto field " + Shown(field.name) +
                  " without RECIPIENTS: the form mails to any address a visitor names (an open "
                  "relay)");
    }
  }
  if (UnsentMail(t).empty()) return;
  // A honeypot may hide in an entry that could not be read.
  if (checked.fieldsComplete && std::none_of(t.fields.begin(), t.fields.end(),
                                             [](const FieldDefinition& f) { return f.honeypot; })) {
    out.Warning("the form sends mail without a honeypot field: robots' submissions are mailed too");
  }
  if (!t.abuse.rateLimit && !Section(checked.text, "RATELIMIT")) {  // a bad one is an error
    out.Warning(
        "the form sends mail without a RATELIMIT: one visitor can send any number of mails");
  }
}

void CheckTexts(const CheckedTemplate& checked, Findings& out) {
  const Template& t = checked.t;
  std::vector<std::pair<std::string, std::string_view>> texts;
  if (t.mail) {
    texts.emplace_back("SENDER", t.mail->sender);
    if (t.mail->replyTo) texts.emplace_back("REPLYTO", *t.mail->replyTo);
    texts.emplace_back("SUBJECT", t.mail->subject);
    texts.emplace_back("MSGBODY", t.mail->messageBody);
  }
  if (t.responseSubject) texts.emplace_back("RSUBJECT", *t.responseSubject);
  if (t.responseBody) texts.emplace_back("RMSGBODY", *t.responseBody);
  if (t.executeCommand) texts.emplace_back("EXECUTE", *t.executeCommand);
  if (t.dataFile && t.dataFile->format) texts.emplace_back("DFILEFORMAT", *t.dataFile->format);
  for (const FieldDefinition& field : t.fields) {
    if (field.requiredErr) {
      texts.emplace_back("REQUIREDERR of field " + Shown(field.name), *field.requiredErr);
    }
    if (field.typeErr) texts.emplace_back("TYPEERR of field " + Shown(field.name), *field.typeErr);
    if (field.maxLengthErr) {
      texts.emplace_back("MAXLENERR of field " + Shown(field.name), *field.maxLengthErr);
    }
  }
  for (const auto& [where, text] : texts) CheckPlaceholders(text, where, checked, out);
}

}  // namespace

std::optional<std::string> Section(std::string_view text, std::string_view tag) {
  const std::string open = "<" + std::string(tag) + ">";
  const std::string close = "</" + std::string(tag) + ">";
  Result<std::optional<std::string>> section = ExtractSection(text, open, close, false);
  if (!section) return std::nullopt;
  return std::move(*section);
}

void CheckPlaceholders(std::string_view text, std::string_view where,
                       const CheckedTemplate& checked, Findings& out) {
  if (!checked.fieldsComplete) return;
  std::set<std::string> told;
  for (std::string_view name : PlaceholderNames(text)) {
    if (IsKnownName(name, checked.t.fields) || !told.insert(AsciiUpper(name)).second) continue;
    out.Warning("placeholder $" + Shown(name, kShownNameLength) + "$ in " + std::string(where) +
                " names no field and no variable a web server sets");
  }
}

void CheckRules(const CheckedTemplate& checked, Findings& out) {
  const Template& t = checked.t;
  if (t.mail) {
    // A missing SENDER is reported already.
    if (Section(checked.text, "SENDER")) CheckFixedAddress("SENDER", t.mail->sender, out);
    if (t.mail->replyTo) CheckFixedAddress("REPLYTO", *t.mail->replyTo, out);
    if (!ParseSmtpServer(t.mail->server)) {
      out.Error("SMTPSERVER " + Shown(t.mail->server) + ": not a port number after the last ':'");
    }
  }
  CheckRecipients(t, out);
  CheckSwitch(checked.text, "DEBUG", out);
  CheckSwitch(checked.text, "DFILEGUARD", out);
  if (t.dataFile && !t.dataFile->format) out.Error(LogText(Fail(FailureKind::kNoDataFileFormat)));
  CheckTexts(checked, out);
  CheckResponseQuotes(t, out);
  CheckAbuseWarnings(checked, out);
}

}  // namespace veltrano::check
