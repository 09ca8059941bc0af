#include "check/check.hpp"

#include "check/files.hpp"
#include "check/rules.hpp"
#include "mail/smtp_client.hpp"
#include "mail/transport.hpp"
#include "platform/files.hpp"
#include "response/catalogue.hpp"
#include "template/aliases.hpp"
#include "template/sections.hpp"
#include "template/state_files.hpp"
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

void CheckTemplate(std::string_view name, const Settings& settings, Findings& out) {
  const std::string& user = settings.user.name;
  std::string error;
  if (!platform::ChangeDirectory(settings.site, &error)) {
    out.Error(user + " cannot enter the site directory " + Shown(settings.site) + ": " + error);
    return;
  }
  // The name as veltrano2.exe takes it from the query string, and its file
  // as LoadTemplate finds it.
  PathAliases aliases(settings.site);
  Result<std::string> path = TemplatePath(SplitQuery(name).templateName, aliases);
  if (!path) {
    out.Error(LogText(path.failure()));
    return;
  }
  // Without it, the CGI takes alias names as they stand.
  if (const std::optional<std::string>& unusable = aliases.Unusable()) {
    out.Error(user + " cannot read the alias file " + *unusable);
  }
  if (!path->starts_with('/')) *path = settings.site + "/" + *path;
  std::optional<std::string> text = ReadTemplateText(*path, &error);
  if (!text) {
    out.Error(user + " cannot read the template " + Shown(*path) + ": " + error);
    return;
  }
  TemplateReport report = ReadSectionsReportingAll(TemplateFile{*path, *text});
  for (const Failure& problem : report.problems) out.Error(LogText(problem));
  const Template& t = report.parsed;
  if (Status apart = CheckStateFiles(t, aliases); !apart) out.Error(LogText(apart.failure()));
  CheckRules(report, out);
  CheckFiles(report, aliases, settings, out);
  if (t.mail && !settings.offline && ParseSmtpServer(t.mail->server)) {
    CheckSmtpServer(t.mail->server, out);
  }
}

}  // namespace veltrano::check
