// An in-memory System for running requests inside a test: a map for the
// environment, a string for standard input, the response captured as the
// bytes that would leave the process, the log lines kept (pid 4242), and a
// clock that reads what it is told and counts its readings; and a sink that
// keeps a phase's notices.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/notices.hpp"
#include "platform/system.hpp"
#include "platform/text_mode.hpp"

namespace veltrano::testing {

class MapEnvironment final : public platform::Environment {
 public:
  std::optional<std::string> Get(const std::string& name) const override {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  }
  std::map<std::string, std::string> vars;
};

class StringInput final : public platform::Input {
 public:
  std::string ReadBytes(std::size_t count) override {
    std::string raw = bytes.substr(consumed, count);
    consumed += raw.size();
    return raw;
  }
  void DiscardUpTo(std::size_t total) override {
    if (consumed < total) consumed = std::min(total, bytes.size());
  }
  std::string bytes;
  std::size_t consumed = 0;
};

class CapturedOutput final : public platform::Output {
 public:
  void Write(std::string_view text) override { bytes += platform::EncodeTextMode(text); }
  void Flush() override { ++flushes; }
  std::string bytes;  // as they would leave the process, CR LF included
  int flushes = 0;
};

class CapturedLog final : public platform::ErrorLog {
 public:
  void WriteLine(std::string_view line) override { lines.emplace_back(line); }
  int ProcessId() const override { return 4242; }
  std::vector<std::string> lines;
};

class FixedClock final : public platform::Clock {
 public:
  platform::LocalTime Now() const override {
    ++readings;
    return time;
  }
  platform::LocalTime time{1998, 3, 7, 14, 5, 9, 3600, 889275909};
  mutable int readings = 0;
};

// The notices a phase reported, in order.
class NoticeLog final : public Notices {
 public:
  void Note(NoticeKind kind, std::string detail) override {
    notes.emplace_back(kind, std::move(detail));
  }
  std::vector<std::pair<NoticeKind, std::string>> notes;
};

struct FakeSystem {
  MapEnvironment env;
  StringInput input;
  CapturedOutput output;
  CapturedLog log;
  FixedClock clock;
  NoticeLog notices;
  platform::System system{env, input, output, log, clock};
};

// The start of a log line that a run in a FakeSystem writes, up to its
// message: the fixed clock's time and the pid 4242.
inline std::string LogStart(std::string_view client, std::string_view templateName) {
  return "1998-03-07T14:05:09+01:00 " + std::string(client) + " " + std::string(templateName) +
         " 4242 veltrano2.exe: ";
}

// Turns the LF line ends of a readable expectation into the CR LF that
// standard output carries.
inline std::string Crlf(std::string_view text) {
  return platform::EncodeTextMode(text);
}

}  // namespace veltrano::testing
