#include "check/check.hpp"

#include "check/files.hpp"
#include "check/rules.hpp"
#include "mail/smtp_client.hpp"
#include "mail/transport.hpp"
#include "platform/files.hpp"
#include "response/catalogue.hpp"
#include "template/aliases.hpp"
#include "template/sections.hpp"
#include "template/template_file.hpp"

namespace veltrano::check {

namespace {

// Connection, greeting, HELO and QUIT; no mail.
void CheckSmtpServer(const std::string& server, Findings& out) {
  SocketTransport transport(SocketTimeouts{kSmtpWait, kSmtpWait});
  SmtpClient::Options options;
  options.replyTimeout = kSmtpWait;
  SmtpClient smtp(transport, server, options);
  if (Status open = smtp.Connect(transport.LocalHostName()); !open) {
    out.Error(LogText(open.failure()));
    return;
  }
  smtp.Quit();
}

}  // namespace

Findings CheckTemplate(std::string_view name, const Settings& settings) {
  Findings out;
  // The name as veltrano2.exe takes it from the query string, and its file
  // as LoadTemplate finds it, read only when the user can read it.
  QueryTokens query = SplitQuery(name);
  if (!query.templateName) {
    out.Error(LogText(Fail(FailureKind::kNoTemplateName)));
    return out;
  }
  PathAliases aliases(settings.site);
  Result<std::string> path = aliases.ResolveTemplateName(*query.templateName);
  if (!path) {
    out.Error(LogText(path.failure()));
    return out;
  }
  if (!path->starts_with('/')) *path = settings.site + "/" + *path;
  if (!CheckTemplateReadable(*path, settings, out)) return out;
  std::string error;
  std::optional<std::string> content = platform::ReadTextFile(*path, &error);
  if (!content) {
    out.Error(LogText(Fail(FailureKind::kTemplateUnreadable, {}, *path + ": " + error)));
    return out;
  }
  const std::string text = StripComments(*content);
  TemplateReport report = ReadSectionsReportingAll(TemplateFile{*path, text});
  for (const Failure& problem : report.problems) out.Error(LogText(problem));
  const Template& t = report.parsed;
  const CheckedTemplate checked{t, text, report.fieldsComplete};
  CheckRules(checked, out);
  CheckFiles(checked, aliases, settings, out);
  if (t.mail && !settings.offline && ParseSmtpServer(t.mail->server)) {
    CheckSmtpServer(t.mail->server, out);
  }
  return out;
}

}  // namespace veltrano::check
