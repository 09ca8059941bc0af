#include "platform/access_probe.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/fd.hpp"
#include "platform/files.hpp"

namespace veltrano::platform {

namespace {

// Probes only open and close files; a child still busy after this long
// hangs on a dead network file system.
const ChildLimits kProbeLimits{std::chrono::seconds(30), std::chrono::seconds(5)};

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

// One line per outcome: "1" or "0" for allowed, the same for exists, a
// space and the reason, whose line ends (a path may hold one) become spaces.
std::string Encode(const std::vector<AccessOutcome>& outcomes) {
  std::string text;
  for (const AccessOutcome& o : outcomes) {
    text += o.allowed ? '1' : '0';
    text += o.exists ? '1' : '0';
    text += ' ';
    for (char c : o.reason) text += c == '\n' ? ' ' : c;
    text += '\n';
  }
  return text;
}

std::vector<AccessOutcome> Decode(std::string_view text) {
  std::vector<AccessOutcome> outcomes;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos || end < 3) break;
    std::string_view line = text.substr(0, end);
    outcomes.push_back(AccessOutcome{line[0] == '1', line[1] == '1', std::string(line.substr(3))});
    text.remove_prefix(end + 1);
  }
  return outcomes;
}

}  // namespace

std::vector<AccessOutcome> ProbeAccess(const std::vector<AccessProbe>& probes) {
  std::vector<AccessOutcome> outcomes;
  for (const AccessProbe& probe : probes) outcomes.push_back(Probe(probe));
  return outcomes;
}

std::optional<std::vector<AccessOutcome>> ProbeAccessAs(const std::optional<Account>& identity,
                                                        const std::vector<AccessProbe>& probes,
                                                        std::string& error) {
  ChildReport report = RunAs(
      identity,
      [&probes](int output) {
        const std::string text = Encode(ProbeAccess(probes));
        std::string_view left = text;
        while (!left.empty()) {
          ssize_t n = ::write(output, left.data(), left.size());
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) return 1;
          left.remove_prefix(static_cast<std::size_t>(n));
        }
        return 0;
      },
      kProbeLimits);
  std::vector<AccessOutcome> outcomes = Decode(report.output);
  if (report.outcome.Succeeded() && outcomes.size() == probes.size()) return outcomes;
  error = report.outcome.ending == ChildOutcome::Ending::kExited
              ? "the checking process gave " + std::to_string(outcomes.size()) + " of " +
                    std::to_string(probes.size()) + " answers"
              : "the checking process " + report.outcome.Describe(kProbeLimits);
  return std::nullopt;
}

}  // namespace veltrano::platform
