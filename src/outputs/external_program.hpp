// The EXECUTE command of an accepted submission.
//
// The command text comes expanded with references to its values
// (expand/shell_references.hpp); RunExternalProgram runs it with /bin/sh -c
// and the values in its environment. Standard output
// is flushed first: the command shares the program's standard handles, and
// what it prints appears in the response ahead of the success page. An
// empty command line is handed to the shell all the same. The command has
// ChildLimits::run to end, and no time past the request's budget
// (platform/process.hpp).
//
// Only a shell that could not be started at all is a failure (kNoShell); a
// command that ends with a non-zero status, by a signal or by its time limit
// leaves a line in the log, and the request goes on.
#pragma once

#include <string>
#include <vector>

#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

Status RunExternalProgram(const std::string& command, const platform::ExtraEnvironment& values,
                          platform::Output& output, Notices& notices,
                          const platform::ChildLimits& limits = {});

}  // namespace veltrano
