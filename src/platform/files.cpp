#include "platform/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

std::string ErrorText(int error) {
  char buf[256];
  // The GNU strerror_r returns its text, which need not be in `buf`.
  return ::strerror_r(error, buf, sizeof buf);
}

std::optional<std::string> ReadTextFile(const std::string& path, std::string* error) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // before the check below could refuse it. Regular files ignore the flag.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return Fail(error, ErrorText(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Fail(error, ErrorText(errno));
  if (!S_ISREG(st.st_mode)) return Fail(error, "not a regular file");

  std::string out;
  out.reserve(static_cast<std::size_t>(st.st_size));
  TextModeDecoder decoder;
  char buf[65536];
  // Reading stops at the end of the file, or as soon as it has given the
  // size fstat reported, which saves the read that would only confirm it.
  const std::size_t expected = static_cast<std::size_t>(st.st_size);
  for (std::size_t total = 0; expected == 0 || total < expected;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, ErrorText(errno));
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
    if (!decoder.Feed(std::string_view(buf, static_cast<std::size_t>(n)), out)) break;
  }
  decoder.Finish(out);
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

bool ChangeDirectory(const std::string& path) {
  return ::chdir(path.c_str()) == 0;
}

}  // namespace veltrano::platform
