#include "platform/temp_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/fd.hpp"
#include "platform/files.hpp"
#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {

// A directory holds the files of one encryption, so the first number is
// free; the bound only keeps a misused directory from being probed forever.
constexpr unsigned long kMaxNameAttempts = 100;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Slashed(const std::string& directory) {
  std::string prefix = directory.empty() ? "." : directory;
  if (prefix.back() != '/') prefix += '/';
  return prefix;
}

// Writes `texts` in text mode; false when a write failed.
bool WriteTextMode(int fd, const std::vector<std::string_view>& texts) {
  constexpr std::size_t kPiece = 64 * 1024;
  for (std::string_view text : texts) {
    for (std::size_t at = 0; at < text.size(); at += kPiece) {
      if (!WriteAll(fd, EncodeTextMode(text.substr(at, kPiece)))) return false;
    }
  }
  return true;
}

}  // namespace

void TempPath::Remove() {
  if (!onSignal_) return;
  RemoveFile(path_);
  onSignal_.reset();
}

std::unique_ptr<TempDirectory> TempDirectory::Create(const std::string& parent,
                                                     std::string* error) {
  std::string name = Slashed(parent) + "veltrano.XXXXXX";
  // No signal may end the program between the directory's creation and its
  // registration for removal.
  HoldTermination hold;
  if (::mkdtemp(name.data()) == nullptr) {
    if (error != nullptr) *error = parent + ": " + ErrorText(errno);
    return nullptr;
  }
  return std::unique_ptr<TempDirectory>(new TempDirectory(std::move(name)));
}

TempDirectory::~TempDirectory() {
  // Whatever pgp left besides the two files goes too. Links inside are
  // removed, never followed.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::optional<std::string>> TempDirectoryCandidates(const Environment& env) {
  const auto [tmp, temp, lowerTemp, tmpDir] = kTempDirectoryVariables;
  auto get = [&env](std::string_view name) { return env.Get(std::string(name)); };
  std::optional<std::string> either = get(temp);
  if (!either) either = get(lowerTemp);
  return {get(tmp), either, get(tmpDir)};
}

std::string ChooseTempDirectory(const std::vector<std::optional<std::string>>& candidates) {
  for (const std::optional<std::string>& dir : candidates) {
    if (dir && !dir->empty() && IsDirectory(*dir)) return *dir;
  }
  if (IsDirectory("/tmp")) return "/tmp";
  return ".";
}

std::unique_ptr<TempPath> CreateTempTextFile(const std::string& directory,
                                             const std::vector<std::string_view>& texts,
                                             std::string* error) {
  const std::string prefix = Slashed(directory) + "kov";
  for (unsigned long n = 1; n <= kMaxNameAttempts; ++n) {
    std::string path = prefix + std::to_string(n);
    std::unique_ptr<TempPath> owned;
    UniqueFd fd;
    {
      // No signal may end the program between the file's creation and its
      // registration for removal.
      HoldTermination hold;
      fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd.valid()) owned = std::make_unique<TempPath>(path);
    }
    if (!fd.valid()) {
      if (errno == EEXIST || errno == EINTR) continue;
      if (error != nullptr) *error = path + ": " + ErrorText(errno);
      return nullptr;  // no permission, no such directory, ...
    }
    bool written = WriteTextMode(fd.get(), texts);
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
