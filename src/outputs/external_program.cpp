#include "outputs/external_program.hpp"

#include "expand/placeholders.hpp"
#include "platform/process.hpp"
#include "response/response.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kNoShellMessage =
    "An error occured while executing your external application.  Chances are that it did not "
    "execute correctly.  Please recheck <execute> tag info and retry.";

}  // namespace

void RunExternalProgram(RequestContext& ctx) {
  if (!ctx.executeCommand) return;
  std::string command = *ctx.executeCommand;
  Trim(command);
  ctx.executeCommand = ExpandPlaceholders(ctx, command, Escaping::kShell);
  ctx.system.output.Flush();
  if (platform::RunShellCommand(*ctx.executeCommand) == -1) {
    ReportFatal("Veltrano error", kNoShellMessage);
  }
}

}  // namespace veltrano
