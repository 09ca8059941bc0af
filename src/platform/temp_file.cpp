#include "platform/temp_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {

// Numbers already tried by this process; the next name starts above them.
unsigned long nextTempNumber = 1;

// Names left behind by other processes only cost one probe each; past this
// many in a row something is wrong with the directory (or someone fills it
// on purpose), and the encryption gives up instead of probing forever.
constexpr unsigned long kMaxNameAttempts = 10000;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates) {
  for (const std::optional<std::string>& dir : candidates) {
    if (dir && !dir->empty() && IsDirectory(*dir)) return *dir;
  }
  if (IsDirectory("/tmp")) return "/tmp";
  return ".";
}

std::optional<std::string> CreateTempTextFile(const std::string& directory, std::string_view text) {
  std::string prefix = directory;
  if (prefix.empty()) prefix = ".";
  if (prefix.back() != '/') prefix += '/';
  prefix += "kov";

  for (unsigned long attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string path = prefix + std::to_string(nextTempNumber++);
    if (PathExists(path + ".asc")) continue;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST || errno == EINTR) continue;
      return std::nullopt;  // no permission, no such directory, ...
    }
    // Checked again now that the name is ours: another request's pgp may
    // have written its armour and wiped its plain file since the first
    // check, and that armour stays until the other request has read it.
    if (PathExists(path + ".asc")) {
      ::close(fd);
      ::unlink(path.c_str());
      continue;
    }
    bool written = WriteAll(fd, EncodeTextMode(text));
    bool closed = ::close(fd) == 0;
    if (written && closed) return path;
    ::unlink(path.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace veltrano::platform
