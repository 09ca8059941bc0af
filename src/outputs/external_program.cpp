#include "outputs/external_program.hpp"

#include "expand/shell_references.hpp"
#include "text/text.hpp"

namespace veltrano {

Status RunExecuteCommand(std::string_view command, const PlaceholderValues& values,
                         platform::Output& output, Notices& notices,
                         const platform::ChildLimits& limits) {
  std::string trimmed(command);
  Trim(trimmed);
  ShellReferences references;
  Result<std::string> expanded = ExpandPlaceholders(trimmed, values, references);
  if (!expanded) return expanded.failure();
  return RunExternalProgram(*expanded, references.environment(), output, notices, limits);
}

Status RunExternalProgram(const std::string& command, const platform::ExtraEnvironment& values,
                          platform::Output& output, Notices& notices,
                          const platform::ChildLimits& limits) {
  output.Flush();
  platform::ChildOutcome outcome = platform::RunShellCommand(command, values, limits);
  if (outcome.ending == platform::ChildOutcome::Ending::kNotStarted) {
    return Fail(FailureKind::kNoShell, {}, outcome.Describe(limits));
  }
  if (!outcome.Succeeded()) notices.Note(NoticeKind::kCommandFailed, outcome.Describe(limits));
  return {};
}

}  // namespace veltrano
