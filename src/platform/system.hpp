// The operating system as Veltrano sees it: the CGI environment, the
// standard streams (input as bytes, output in text mode, errors as the
// administrator's log) and the local clock, each behind a small interface so
// that tests can run a whole request in memory.
//
// Text mode: every LF written leaves as CR LF (a reader of the body decodes
// it with platform/text_mode.hpp: CR LF to LF, up to the first 0x1A byte). Nothing else is
// translated, and a percent sign has no meaning anywhere. Code above this folder never sees errno:
// failures come back as values.
//
// The real implementations (ProcessEnvironment, StdinInput, StdoutOutput,
// SystemClock) are the only ones the program uses; tests bring their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.hpp"

namespace veltrano::platform {

class Environment {
 public:
  virtual ~Environment() = default;
  // The value of the variable `name` (exact, case-sensitive match), or none.
  virtual std::optional<std::string> Get(const std::string& name) const = 0;
};

class Input {
 public:
  virtual ~Input() = default;
  // Reads at most `count` bytes of standard input as they are (binary: no
  // line-end translation, 0x1A is a byte like any other); less when the
  // input ends or fails first.
  virtual std::string ReadBytes(std::size_t count) = 0;
  // Reads and discards standard input until `total` bytes have been read
  // since the start (the reads above included), the input ends, or the time
  // for reading standard input is up.
  virtual void DiscardUpTo(std::size_t total) = 0;
};

class Output {
 public:
  virtual ~Output() = default;
  // Writes `text` in text mode: every LF becomes CR LF, all else byte for byte.
  virtual void Write(std::string_view text) = 0;
  // Hands everything written so far to the operating system.
  virtual void Flush() = 0;
};

class ErrorLog {
 public:
  virtual ~ErrorLog() = default;
  // Writes one line (the LF is added) to standard error, which web servers
  // put in their error log.
  virtual void WriteLine(std::string_view line) = 0;
  // The id of the process whose lines these are, which each line names:
  // lines of concurrent requests stand side by side in a shared log.
  virtual int ProcessId() const = 0;
};

struct LocalTime {
  int year = 1970;  // full year, e.g. 1998
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  long utcOffsetSeconds = 0;  // local time minus UTC
  long long epochSeconds = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// Everything a request needs from the outside, passed in explicitly.
struct System {
  Environment& env;
  Input& input;
  Output& output;
  ErrorLog& log;
  Clock& clock;
};

// Real implementations.
class ProcessEnvironment final : public Environment {
 public:
  std::optional<std::string> Get(const std::string& name) const override;
};

// Standard input with one bound for all its reading: a body that trickles
// in, or a server that never closes the input, cannot hold the run longer
// than kInputTime in total, nor past the request's budget.
class StdinInput final : public Input {
 public:
  static constexpr std::chrono::seconds kInputTime{30};

  explicit StdinInput(const Deadline& budget = Deadline::Never());
  std::string ReadBytes(std::size_t count) override;
  void DiscardUpTo(std::size_t total) override;

 private:
  // Reads at most `max` bytes into `buf`; 0 once the input has ended, failed
  // or the time is up.
  std::size_t ReadSome(char* buf, std::size_t max);

  Deadline deadline_;
  std::size_t consumed_ = 0;
  bool ended_ = false;
};

class StdoutOutput final : public Output {
 public:
  ~StdoutOutput() override;
  void Write(std::string_view text) override;
  void Flush() override;

 private:
  std::string buffer_;
};

class StderrLog final : public ErrorLog {
 public:
  void WriteLine(std::string_view line) override;
  int ProcessId() const override;
};

class SystemClock final : public Clock {
 public:
  LocalTime Now() const override;
};

}  // namespace veltrano::platform
