// The EXECUTE command of an accepted submission.
//
// RunExternalProgram trims the EXECUTE text, expands its placeholders with
// shell quoting (every replacement reaches the command as literal characters,
// see expand/shell_quote.hpp; the administrator's own text is the command
// line and is trusted as such), stores the result in ctx.executeCommand and
// runs it with /bin/sh -c, waiting for it without a time limit. Standard
// output is flushed first: the command shares the process's standard
// handles, and what it prints appears in the response ahead of the success
// page. An empty command line is handed to the shell all the same.
//
// The command's exit status is ignored; only a shell that could not be
// started at all ends the request, with the "Veltrano error" page.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

void RunExternalProgram(RequestContext& ctx);

}  // namespace veltrano
