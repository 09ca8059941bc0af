// Process-wide settings and child processes.
//
// Two ways to run another program, for two kinds of caller:
// - RunQuietly starts a program from an argument vector (no shell: every
//   argument stays whole, whatever it holds), with its standard handles on
//   /dev/null so nothing of it reaches the response, and waits for it.
// - RunShellCommand hands a command line to /bin/sh -c with the process's own
//   standard handles, as the C library's system() does.
// Neither has a time limit: the request waits for the child to end. Both
// give the child the default SIGPIPE action (see IgnoreBrokenPipe), so a
// pipeline in the command ends as it would from a terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veltrano::platform {

// A web server or mail server that goes away must not kill the run with
// SIGPIPE: writes to it fail quietly instead. Children do not inherit this.
void IgnoreBrokenPipe();

// Starts argv[0] (searched on PATH) with the arguments `argv` and the
// process's environment, and waits for it. The child's exit status (128 plus
// the signal number when a signal ended it), or none when it could not be
// started at all (not found, not executable, no process left).
std::optional<int> RunQuietly(const std::vector<std::string>& argv);

// system(command): the shell's exit status as system() reports it, or -1
// when no shell could be started. The shell reads the command as a C string,
// so a NUL byte ends it.
int RunShellCommand(const std::string& command);

}  // namespace veltrano::platform
