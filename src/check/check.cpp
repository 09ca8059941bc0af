#include "check/check.hpp"

#include "check/files.hpp"
#include "check/rules.hpp"
#include "driver/request.hpp"
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
  platform::SystemClock clock;
  SmtpClient smtp(transport, clock, options);
  if (Status open = smtp.Open(server); !open) {
    out.Error(LogText(open.failure()));
    return;
  }
  smtp.Quit();
}

// The template as LoadTemplate reads it, with its path made absolute for
// the lines that name it.
Result<TemplateFile> ReadTemplate(const std::optional<std::string>& name,
                                  const PathAliases& aliases, const std::string& site) {
  if (!name) return Fail(FailureKind::kNoTemplateName);
  Result<std::string> path = aliases.ResolveTemplateName(*name);
  if (!path) return path.failure();
  if (!path->starts_with('/')) *path = site + "/" + *path;
  std::string error;
  std::optional<std::string> text = platform::ReadTextFile(*path, &error);
  if (!text) return Fail(FailureKind::kTemplateUnreadable, {}, *path + ": " + error);
  return TemplateFile{std::move(*path), StripComments(*text)};
}

}  // namespace

Findings CheckTemplate(std::string_view name, const Settings& settings) {
  Findings out;
  // The name as veltrano2.exe takes it from the query string.
  QueryTokens query = SplitQuery(name);
  PathAliases aliases(settings.site);
  Result<TemplateFile> file = ReadTemplate(query.templateName, aliases, settings.site);
  if (!file) {
    out.Error(LogText(file.failure()));
    return out;
  }
  const std::string text = file->text;
  TemplateReport report = ReadSectionsReportingAll(std::move(*file));
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
