#include "platform/access_probe.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.hpp"
#include "platform/files.hpp"

namespace veltrano::platform {

namespace {

AccessOutcome Allowed() {
  return AccessOutcome{true, true, {}};
}

AccessOutcome Refused(int error) {
  return AccessOutcome{false, error != ENOENT && error != ENOTDIR, ErrorText(error)};
}

AccessOutcome Open(const AccessProbe& probe, int mode) {
  int flags = mode | O_CLOEXEC | O_NONBLOCK | (probe.followLinks ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(probe.path.c_str(), flags));
  if (!fd.valid() && errno == ELOOP && !probe.followLinks) {
    return AccessOutcome{false, true, "a symbolic link, which is not followed"};
  }
  if (!fd.valid()) return Refused(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Refused(errno);
  if (!S_ISREG(st.st_mode)) return AccessOutcome{false, true, "not a regular file"};
  return Allowed();
}

// A directory the user can add a file to: write and search permission.
AccessOutcome CreateIn(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0) return Refused(errno);
  if (!S_ISDIR(st.st_mode)) return AccessOutcome{false, true, "not a directory"};
  if (::access(directory.c_str(), W_OK | X_OK) != 0) return Refused(errno);
  return Allowed();
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

AccessOutcome Probe(const AccessProbe& probe) {
  switch (probe.kind) {
    case AccessKind::kRead:
      return Open(probe, O_RDONLY);
    case AccessKind::kWrite: {
      AccessOutcome file = Open(probe, O_RDWR);
      if (file.exists) return file;
      // The file would be created: its directory decides.
      const std::string directory = DirectoryOf(probe.path);
      AccessOutcome parent = CreateIn(directory);
      parent.exists = false;
      if (!parent.allowed) parent.reason = directory + ": " + parent.reason;
      return parent;
    }
    case AccessKind::kCreateIn:
      return CreateIn(probe.path);
    case AccessKind::kExecute: {
      struct stat st {};
      if (::stat(probe.path.c_str(), &st) != 0) return Refused(errno);
      if (!S_ISREG(st.st_mode)) return AccessOutcome{false, true, "not a regular file"};
      if (::access(probe.path.c_str(), X_OK) != 0) return Refused(errno);
      return Allowed();
    }
  }
  return Refused(EINVAL);
}

}  // namespace

std::vector<AccessOutcome> ProbeAccess(const std::vector<AccessProbe>& probes) {
  std::vector<AccessOutcome> outcomes;
  for (const AccessProbe& probe : probes) outcomes.push_back(Probe(probe));
  return outcomes;
}

}  // namespace veltrano::platform
