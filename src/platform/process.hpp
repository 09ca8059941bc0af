// Process-wide settings and child processes.
#pragma once

namespace veltrano::platform {

// A web server or mail server that goes away must not kill the run with
// SIGPIPE: writes to it fail quietly instead.
void IgnoreBrokenPipe();

}  // namespace veltrano::platform
