#include "platform/process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

extern char** environ;

namespace veltrano::platform {

namespace {

// Owns a posix_spawn_file_actions_t.
class FileActions {
 public:
  FileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() {
    if (ok_) ::posix_spawn_file_actions_destroy(&actions_);
  }
  bool Open(int fd, int flags) {
    return ok_ && ::posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", flags, 0) == 0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// Owns a posix_spawnattr_t that gives the child the default SIGPIPE action.
class DefaultBrokenPipe {
 public:
  DefaultBrokenPipe() {
    sigset_t set;
    ok_ = ::posix_spawnattr_init(&attr_) == 0;
    ok_ = ok_ && sigemptyset(&set) == 0 && sigaddset(&set, SIGPIPE) == 0 &&
          ::posix_spawnattr_setsigdefault(&attr_, &set) == 0 &&
          ::posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGDEF) == 0;
  }
  DefaultBrokenPipe(const DefaultBrokenPipe&) = delete;
  DefaultBrokenPipe& operator=(const DefaultBrokenPipe&) = delete;
  ~DefaultBrokenPipe() { ::posix_spawnattr_destroy(&attr_); }
  bool ok() const { return ok_; }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_{};
  bool ok_ = false;
};

}  // namespace

void IgnoreBrokenPipe() {
  std::signal(SIGPIPE, SIG_IGN);
}

std::optional<int> RunQuietly(const std::vector<std::string>& argv) {
  if (argv.empty()) return std::nullopt;
  FileActions actions;
  if (!actions.Open(0, O_RDONLY) || !actions.Open(1, O_WRONLY) || !actions.Open(2, O_WRONLY)) {
    return std::nullopt;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  DefaultBrokenPipe attr;
  if (!attr.ok()) return std::nullopt;
  pid_t pid = -1;
  // glibc reports a failed exec here (the child is started with vfork
  // semantics), so "not found" comes back as an error, not as status 127.
  if (::posix_spawnp(&pid, args[0], actions.get(), attr.get(), args.data(), environ) != 0) {
    return std::nullopt;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::nullopt;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return std::nullopt;
}

int RunShellCommand(const std::string& command) {
  // An ignored signal stays ignored across exec, and a shell cannot undo
  // that; the command gets the default action back for the time it runs,
  // when this process writes nothing.
  void (*previous)(int) = std::signal(SIGPIPE, SIG_DFL);
  int status = std::system(command.c_str());
  if (previous != SIG_ERR) std::signal(SIGPIPE, previous);
  return status;
}

}  // namespace veltrano::platform
