// A point in time that bounds a wait. Every bounded wait of the platform
// layer (standard input, sockets, child processes) counts down to one of
// these, so a wait that is interrupted and resumed never gets more time.
#pragma once

#include <chrono>

namespace veltrano::platform {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(Clock::duration from_now) : at_(Clock::now() + from_now) {}

  // The time left, never below zero and never beyond what poll(2) takes.
  int MillisecondsLeft() const;
  bool Passed() const { return Clock::now() >= at_; }

 private:
  Clock::time_point at_;
};

}  // namespace veltrano::platform
