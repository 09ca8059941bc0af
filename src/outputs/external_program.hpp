// The EXECUTE command of an accepted submission.
//
// RunExecuteCommand is the whole step: the command text trimmed, its
// placeholders expanded into references to the values, which the command
// gets in its environment (expand/shell_references.hpp: no byte of a value
// becomes part of the command text), then run by RunExternalProgram.
//
// RunExternalProgram runs a command with /bin/sh -c and the values in its
// environment. Standard output is flushed first: the command shares the
// program's standard handles, and what it prints appears in the response
// ahead of the success page. An empty command line is handed to the shell
// all the same. The command has ChildLimits::run to end, and no time past
// the request's budget (platform/process.hpp).
//
// Only an expansion that fails (kExpansionTooLong) or a shell that could not
// be started at all (kNoShell) ends the request; a command that ends with a
// non-zero status, by a signal or by its time limit leaves a line in the
// log, and the request goes on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "expand/placeholders.hpp"
#include "model/notices.hpp"
#include "model/result.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

// `command` as EXECUTE holds it.
Status RunExecuteCommand(std::string_view command, const PlaceholderValues& values,
                         platform::Output& output, Notices& notices,
                         const platform::ChildLimits& limits = {});

Status RunExternalProgram(const std::string& command, const platform::ExtraEnvironment& values,
                          platform::Output& output, Notices& notices,
                          const platform::ChildLimits& limits = {});

}  // namespace veltrano
