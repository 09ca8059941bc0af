#include "support/small_file_system.hpp"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace veltrano::testing {

SmallFileSystem::SmallFileSystem(std::size_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
  if (::mount("tmpfs", path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
              options.c_str()) != 0) {
    error_ = std::strerror(errno);
  }
}

SmallFileSystem::~SmallFileSystem() {
  if (error_.empty()) ::umount2(path().c_str(), MNT_DETACH);
}

}  // namespace veltrano::testing
