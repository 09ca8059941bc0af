#include "platform/fd.hpp"

#include <unistd.h>

namespace veltrano::platform {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace veltrano::platform
