#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/fd.hpp"
#include "platform/text_mode.hpp"

namespace veltrano::platform {

namespace {

std::nullopt_t Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return std::nullopt;
}

std::nullopt_t TooLarge(std::string* error, std::size_t maxBytes) {
  return Fail(error, "too large, over " + std::to_string(maxBytes) + " bytes");
}

}  // namespace

std::string ErrorText(int error) {
  char buf[256];
  // The GNU strerror_r returns its text, which need not be in `buf`.
  return ::strerror_r(error, buf, sizeof buf);
}

std::optional<std::string> ReadTextFile(const std::string& path, std::string* error,
                                        std::size_t maxBytes) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // before the check below could refuse it. Regular files ignore the flag.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return Fail(error, ErrorText(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Fail(error, ErrorText(errno));
  if (!S_ISREG(st.st_mode)) return Fail(error, "not a regular file");

  // The size is a hint only (a sparse file may claim terabytes); the text
  // grows up to the limit and no further.
  const std::size_t expected = static_cast<std::size_t>(st.st_size);
  std::string out;
  out.reserve(std::min(expected, maxBytes));
  TextModeDecoder decoder;
  char buf[65536];
  // Reading stops at the end of the file, or as soon as it has given the
  // size fstat reported, which saves the read that would only confirm it.
  for (std::size_t total = 0; expected == 0 || total < expected;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, ErrorText(errno));
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
    const bool more = decoder.Feed(std::string_view(buf, static_cast<std::size_t>(n)), out);
    if (out.size() > maxBytes) return TooLarge(error, maxBytes);
    if (!more) break;
  }
  decoder.Finish(out);
  if (out.size() > maxBytes) return TooLarge(error, maxBytes);
  return out;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  const bool aExists = ::stat(a.c_str(), &sa) == 0, bExists = ::stat(b.c_str(), &sb) == 0;
  if (aExists || bExists)
    return aExists && bExists && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  // Neither exists yet: the first to be made would be the other.
  auto split = [](const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::pair<std::string, std::string>(".", path);
    return std::pair(slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1));
  };
  const auto [aDirectory, aName] = split(a);
  const auto [bDirectory, bName] = split(b);
  if (aName != bName) return false;
  if (::stat(aDirectory.c_str(), &sa) != 0 || ::stat(bDirectory.c_str(), &sb) != 0) {
    return aDirectory == bDirectory;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<std::vector<std::string>> ListDirectory(const std::string& path,
                                                      std::size_t maxEntries) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (names.size() < maxEntries) {
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

bool ChangeDirectory(const std::string& path, std::string* error) {
  if (::chdir(path.c_str()) == 0) return true;
  Fail(error, ErrorText(errno));
  return false;
}

}  // namespace veltrano::platform
