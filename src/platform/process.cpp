#include "platform/process.hpp"

#include <csignal>

namespace veltrano::platform {

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace veltrano::platform
