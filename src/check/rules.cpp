#include "check/rules.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "check/closest.hpp"
#include "expand/placeholders.hpp"
#include "mail/attachments.hpp"
#include "mail/deliver_mail.hpp"
#include "mail/smtp_client.hpp"
#include "model/failure.hpp"
#include "response/catalogue.hpp"
#include "template/sections.hpp"
#include "text/address.hpp"
#include "text/text.hpp"
#include "validate/recipients.hpp"

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

// The environment any web server gives a CGI program: each variable listed
// above, and HTTP_* (the request's header lines), set.
class ServerEnvironment final : public platform::Environment {
 public:
  std::optional<std::string> Get(const std::string& name) const override {
    const bool set =
        (name.starts_with("HTTP_") && name.size() > 5) ||
        std::find(kServerVariables.begin(), kServerVariables.end(), name) != kServerVariables.end();
    return set ? std::optional<std::string>("set") : std::nullopt;
  }
};

class AnyTime final : public platform::Clock {
 public:
  platform::LocalTime Now() const override { return {}; }
};

std::optional<std::size_t> FieldNamed(const std::vector<FieldDefinition>& fields,
                                      std::string_view name) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (EqualsNoCase(fields[i].name, name)) return i;
  }
  return std::nullopt;
}

// REPLYTO written without placeholders gives every mail the same header,
// or none.
void CheckFixedReplyTo(const Template& t, Findings& out) {
  if (!t.mail || !t.mail->replyTo || !IsFixedText(*t.mail->replyTo)) return;
  const std::string text = ReplyToText(*t.mail->replyTo);
  if (!text.empty() && !IsUsableReplyTo(text)) {  // empty: no header, as meant
    out.Error("REPLYTO is not a plain address (local@domain): " + Shown(text));
  }
}

void CheckRecipients(const Template& t, Findings& out) {
  if (!t.abuse.recipients) return;
  for (const std::string& entry : *t.abuse.recipients) {
    if (!EntryCanMatch(entry)) {
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

// Any other text leaves the switch as it is without a word, which is never
// what was meant.
void CheckSwitches(const Template& t, Findings& out) {
  for (const SwitchSection& section : t.switches) {
    if (!SwitchWord(section.word)) {
      out.Error(section.tag + " is neither on nor off: " + Shown(section.word));
    }
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

void CheckAbuseWarnings(const TemplateReport& report, Findings& out) {
  const Template& t = report.parsed;
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
  if (report.fieldsComplete && std::none_of(t.fields.begin(), t.fields.end(),
                                            [](const FieldDefinition& f) { return f.honeypot; })) {
    out.Warning("the form sends mail without a honeypot field: robots' submissions are mailed too");
  }
  const bool badRateLimit =
      std::any_of(report.problems.begin(), report.problems.end(),
                  [](const Failure& f) { return f.kind == FailureKind::kBadRateLimit; });
  if (!t.abuse.rateLimit && !badRateLimit) {  // a bad one is an error
    out.Warning(
        "the form sends mail without a RATELIMIT: one visitor can send any number of mails");
  }
}

// Postfix's default message_size_limit: the mail server most sites run
// refuses a larger mail whole.
constexpr std::size_t kPostfixMessageSizeLimit = 10'240'000;
// What a mail holds besides its files: the header block and the text part,
// whose expansion is bounded at kMaxExpandedLength.
constexpr std::size_t kMailTextRoom = 64 * 1024;

// Files as large as MAXUPLOAD allows, base64-encoded in a mail, must fit a
// mail server's size limit, or the submissions that carry them fail.
void CheckUploadSize(const Template& t, Findings& out) {
  if (!t.mail || std::none_of(t.fields.begin(), t.fields.end(),
                              [](const FieldDefinition& f) { return f.attach.has_value(); })) {
    return;
  }
  const std::size_t wire = WireSizeOfFile(t.maxUpload) + kMailTextRoom;
  if (wire <= kPostfixMessageSizeLimit) return;
  out.Warning("MAXUPLOAD " + std::to_string(t.maxUpload) + " lets a mail grow to about " +
              std::to_string(wire) + " bytes with its files base64-encoded, over Postfix's " +
              "default message_size_limit of " + std::to_string(kPostfixMessageSizeLimit) +
              ": raise that limit, or lower MAXUPLOAD");
}

void CheckTexts(const TemplateReport& report, Findings& out) {
  const Template& t = report.parsed;
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
  for (const auto& [where, text] : texts) CheckPlaceholders(text, where, report, out);
}

}  // namespace

void CheckPlaceholders(std::string_view text, std::string_view where, const TemplateReport& report,
                       Findings& out, std::span<const std::string_view> pageNames) {
  if (!report.fieldsComplete) return;
  // The request's own lookup, with every field given a value.
  static const ServerEnvironment env;
  static const AnyTime clock;
  const std::vector<FieldDefinition>& fields = report.parsed.fields;
  const FieldValues values(fields.size(), std::string("set"));
  const PlaceholderValues lookup(fields, values, env, clock);
  std::vector<std::string_view> known(pageNames.begin(), pageNames.end());
  for (const FieldDefinition& field : fields) known.push_back(field.name);
  for (std::string_view name : ClockPlaceholderNames()) known.push_back(name);
  known.insert(known.end(), kServerVariables.begin(), kServerVariables.end());
  std::set<std::string> told;
  for (std::string_view name : PlaceholderNames(text)) {
    std::optional<platform::LocalTime> now;
    const bool pageOwn =
        std::any_of(pageNames.begin(), pageNames.end(),
                    [name](std::string_view own) { return EqualsNoCase(own, name); });
    if (pageOwn || lookup.Find(name, now) || !told.insert(AsciiUpper(name)).second) continue;
    std::string line = "placeholder $" + Shown(name, kShownNameLength) + "$ in " +
                       std::string(where) + " names no field and no variable a web server sets";
    if (std::optional<std::string> meant = Closest(name, known)) {
      line += " (did you mean $" + *meant + "$?)";
    }
    out.Warning(std::move(line));
  }
}

void CheckRules(const TemplateReport& report, Findings& out) {
  const Template& t = report.parsed;
  CheckFixedReplyTo(t, out);
  if (t.mail && !ParseSmtpServer(t.mail->server)) {
    out.Error("SMTPSERVER " + Shown(t.mail->server) + ": not a port number after the last ':'");
  }
  CheckRecipients(t, out);
  CheckSwitches(t, out);
  if (t.dataFile && !t.dataFile->format) out.Error(LogText(Fail(FailureKind::kNoDataFileFormat)));
  CheckTexts(report, out);
  if (t.successUrl && t.successPageFile) {
    out.Warning("SUCCEEDURL and SUCCEEDMSGFILE: success redirects to " + Shown(*t.successUrl) +
                ", the success page " + Shown(*t.successPageFile) + " is never shown");
  }
  CheckResponseQuotes(t, out);
  CheckAbuseWarnings(report, out);
  CheckUploadSize(t, out);
}

}  // namespace veltrano::check
