#include "platform/system.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/fd.hpp"
#include "platform/text_mode.hpp"

namespace veltrano::platform {

std::optional<std::string> ProcessEnvironment::Get(const std::string& name) const {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

StdinInput::StdinInput(const Deadline& budget) : deadline_(budget.Within(kInputTime)) {}

std::size_t StdinInput::ReadSome(char* buf, std::size_t max) {
  while (!ended_) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    int ready = ::poll(&p, 1, deadline_.MillisecondsLeft());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;  // time is up, or stdin cannot be waited on
    ssize_t n = ::read(STDIN_FILENO, buf, max);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    consumed_ += static_cast<std::size_t>(n);
    return static_cast<std::size_t>(n);
  }
  ended_ = true;
  return 0;
}

std::string StdinInput::ReadBytes(std::size_t count) {
  // Never read past `count` bytes: the server need not end the input after
  // the announced body, and a read beyond it may wait for ever.
  std::string out;
  // A large body is never copied while it grows; untouched capacity of a
  // body that ends early takes no memory.
  out.reserve(count);
  char buf[65536];
  while (out.size() < count) {
    std::size_t left = count - out.size();
    std::size_t n = ReadSome(buf, left < sizeof buf ? left : sizeof buf);
    if (n == 0) break;
    out.append(buf, n);
  }
  return out;
}

void StdinInput::DiscardUpTo(std::size_t total) {
  char buf[65536];
  while (consumed_ < total) {
    std::size_t left = total - consumed_;
    if (ReadSome(buf, left < sizeof buf ? left : sizeof buf) == 0) return;
  }
}

StdoutOutput::~StdoutOutput() {
  Flush();
}

void StdoutOutput::Write(std::string_view text) {
  buffer_ += EncodeTextMode(text);
  if (buffer_.size() >= 65536) Flush();
}

void StdoutOutput::Flush() {
  // Output errors are not reported: the web server has gone.
  WriteAll(STDOUT_FILENO, buffer_);
  buffer_.clear();
}

void StderrLog::WriteLine(std::string_view line) {
  // One write, so that lines of concurrent requests do not mix in the log.
  std::string text(line);
  text += '\n';
  WriteAll(STDERR_FILENO, text);
}

int StderrLog::ProcessId() const {
  return static_cast<int>(::getpid());
}

LocalTime SystemClock::Now() const {
  std::time_t now = std::time(nullptr);
  struct tm tm {};
  ::localtime_r(&now, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.utcOffsetSeconds = tm.tm_gmtoff;
  t.epochSeconds = static_cast<long long>(now);
  return t;
}

}  // namespace veltrano::platform
