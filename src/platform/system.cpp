#include "platform/system.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/text_mode.hpp"

namespace veltrano::platform {

std::optional<std::string> ProcessEnvironment::Get(const std::string& name) const {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string StdinInput::ReadText(std::size_t count) {
  std::string out;
  TextModeDecoder decoder;
  char buf[65536];
  // Read no more raw bytes than characters still wanted (a CR LF pair yields
  // one character), so nothing beyond the announced body is consumed, except
  // the one byte that decides whether a final CR starts a CR LF pair.
  auto pending = [&] { return decoder.HasPendingCr() ? std::size_t{1} : std::size_t{0}; };
  auto readSome = [&](std::size_t want) {
    for (;;) {
      ssize_t n = ::read(STDIN_FILENO, buf, want < sizeof buf ? want : sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      return decoder.Feed(std::string_view(buf, static_cast<std::size_t>(n)), out);
    }
  };
  while (!ended_ && out.size() + pending() < count) {
    if (!readSome(count - out.size() - pending())) ended_ = true;
  }
  if (!ended_ && decoder.HasPendingCr() && !readSome(1)) ended_ = true;
  decoder.Finish(out);
  if (out.size() > count) out.resize(count);
  return out;
}

StdoutOutput::~StdoutOutput() {
  Flush();
}

void StdoutOutput::Write(std::string_view text) {
  buffer_ += EncodeTextMode(text);
  if (buffer_.size() >= 65536) Flush();
}

void StdoutOutput::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    ssize_t n = ::write(STDOUT_FILENO, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // output errors are not reported: the web server has gone
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
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
