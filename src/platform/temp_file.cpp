#include "platform/temp_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.hpp"
#include "platform/files.hpp"
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

void TempPath::Remove() {
  if (!onSignal_) return;
  RemoveFile(path_);
  onSignal_.reset();
}

std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates) {
  for (const std::optional<std::string>& dir : candidates) {
    if (dir && !dir->empty() && IsDirectory(*dir)) return *dir;
  }
  if (IsDirectory("/tmp")) return "/tmp";
  return ".";
}

std::unique_ptr<TempPath> CreateTempTextFile(const std::string& directory, std::string_view text,
                                             std::string* error) {
  std::string prefix = directory;
  if (prefix.empty()) prefix = ".";
  if (prefix.back() != '/') prefix += '/';
  prefix += "kov";

  for (unsigned long attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    std::string path = prefix + std::to_string(nextTempNumber++);
    if (PathExists(path + ".asc")) continue;
    std::unique_ptr<TempPath> owned;
    UniqueFd fd;
    {
      // No signal may end the program between the file's creation and its
      // registration for removal.
      HoldTermination hold;
      fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (fd.valid()) owned = std::make_unique<TempPath>(path);
    }
    if (!fd.valid()) {
      if (errno == EEXIST || errno == EINTR) continue;
      if (error != nullptr) *error = path + ": " + ErrorText(errno);
      return nullptr;  // no permission, no such directory, ...
    }
    // Checked again now that the name is ours: another request's pgp may
    // have written its armour and wiped its plain file since the first
    // check, and that armour stays until the other request has read it.
    if (PathExists(path + ".asc")) continue;  // `owned` removes our file
    bool written = WriteAll(fd.get(), EncodeTextMode(text));
    if (::close(fd.Release()) == 0 && written) return owned;
    if (error != nullptr) *error = path + ": " + ErrorText(errno);
    return nullptr;
  }
  if (error != nullptr) *error = "no free temporary name in " + directory;
  return nullptr;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace veltrano::platform
