#include "driver/request.hpp"

#include <exception>

#include "mail/deliver_mail.hpp"
#include "outputs/data_file.hpp"
#include "outputs/external_program.hpp"
#include "platform/files.hpp"
#include "response/response.hpp"
#include "template/field_definitions.hpp"
#include "template/sections.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"
#include "validate/pages.hpp"
#include "validate/validate_fields.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kCriticalErrorMessage =
    "A problem was encountered determining the working directory for Veltrano 2.0.  Please make "
    "sure the veltrano 2.0 executable is called 'veltrano2.exe'.  If the name is correct and "
    "problems remain, please contact the administrator of this web site.  Be sure to specify the "
    "type of web server you are running.";

}  // namespace

std::optional<std::string> WorkingDirectoryOf(std::string_view programPath) {
  std::optional<std::size_t> at = FindNoCase(programPath, kExecutableName);
  if (!at) return std::nullopt;
  // POSIX names are case-sensitive: the directory keeps the path's own case.
  return std::string(programPath.substr(0, *at));
}

QueryTokens SplitQuery(std::string_view query) {
  QueryTokens tokens;
  std::size_t pos = 0;
  for (std::optional<std::string>* slot : {&tokens.templateName, &tokens.debugToken}) {
    while (pos < query.size() && query[pos] == '&') ++pos;
    if (pos == query.size()) break;
    std::size_t end = query.find('&', pos);
    if (end == std::string_view::npos) end = query.size();
    *slot = std::string(query.substr(pos, end - pos));
    pos = end;
  }
  return tokens;
}

void HandleRequest(RequestContext& ctx, std::string_view programPath) {
  std::optional<std::string> directory = WorkingDirectoryOf(programPath);
  if (!directory) ReportFatal("Critical error", kCriticalErrorMessage);
  // A failure leaves the run in the web server's directory, as intended.
  // Once inside a directory named by a relative path, that path no longer
  // leads to the program's files: they are found from the current directory.
  std::string workingDirectory = *directory;
  if (!directory->empty() && platform::ChangeDirectory(*directory) && directory->front() != '/') {
    workingDirectory.clear();
  }

  QueryTokens query = SplitQuery(ctx.system.env.Get("QUERY_STRING").value_or(""));
  LoadTemplate(ctx, query.templateName, workingDirectory);
  ctx.debugMode = query.debugToken && FindNoCase(*query.debugToken, "debug");

  ReadSections(ctx);
  ParseFieldDefinitions(ctx, ctx.fieldSection);
  ValidateFields(ctx);
  CompleteRequest(ctx);
}

void CompleteRequest(RequestContext& ctx) {
  SmtpClient smtp(ctx.system.clock);
  PgpEncryptor pgp(ctx.system.env);
  DeliverMail(ctx, smtp, pgp);
  smtp.Quit();
  if (ctx.executeCommand) RunExternalProgram(ctx);
  if (ctx.appendDataFile || ctx.truncateDataFile) WriteDataFile(ctx);
  ctx.successPageFile = ExtractSection(ctx, "<SUCCEEDMSGFILE>", "</SUCCEEDMSGFILE>", true);
  if (ctx.debugMode) ReportFatal("rfc821 mail transaction process", smtp.GetTranscript());
  ShowSuccessPage(ctx);
  ctx.system.output.Flush();
}

void DiscardUnreadBody(platform::System& system) {
  std::optional<std::string> length = system.env.Get("CONTENT_LENGTH");
  if (!length) return;
  long long announced = LeadingInteger(*length, static_cast<long long>(kMaxDiscardedBody));
  if (announced > 0) system.input.DiscardUpTo(static_cast<std::size_t>(announced));
}

int RunProgram(std::string_view programPath, platform::System& system) {
  std::optional<FatalError> fatal;
  try {
    RequestContext ctx(system);
    HandleRequest(ctx, programPath);
  } catch (const FatalError& error) {
    fatal = error;
  } catch (const RequestEnded&) {
    // The response is complete.
  } catch (const std::exception&) {
    // Only resource exhaustion gets here; the visitor still gets a page.
    fatal = FatalError{"Veltrano error",
                       "The request could not be completed.  Please try again later."};
  }
  // Before the response leaves: a web server that is still writing the body
  // (Apache's mod_cgid) would otherwise stall and cut the response off.
  DiscardUnreadBody(system);
  if (fatal) WriteFatalPage(system, *fatal);
  system.output.Flush();
  return 0;
}

}  // namespace veltrano
