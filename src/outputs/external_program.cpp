#include "outputs/external_program.hpp"

namespace veltrano {

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
