// A point in time that bounds a wait. Every bounded wait of the platform
// layer (standard input, sockets, child processes, file locks) counts down
// to one of these, so a wait that is interrupted and resumed never gets more
// time.
//
// The request as a whole has one deadline too, its time budget: a wait with
// a limit of its own ends at that limit or at the end of the budget,
// whichever comes first (Within). A wait that the budget ended names it in
// the administrator's log (WithinBudget).
#pragma once

#include <chrono>
#include <string>

namespace veltrano::platform {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Deadline(Clock::duration from_now) : at_(Clock::now() + from_now), length_(from_now) {}
  // A deadline that never comes: the waits of a caller without a budget
  // end at their own limits only.
  static Deadline Never();

  // The time left, rounded up to whole milliseconds; never below zero and
  // never beyond what poll(2) takes. 0 only once the deadline has passed.
  int MillisecondsLeft() const;
  bool Passed() const { return Clock::now() >= at_; }

  // The earlier of this deadline and `limit` from now.
  Deadline Within(Clock::duration limit) const;
  // How long the deadline was set for when it was made.
  Clock::duration length() const { return length_; }

 private:
  Deadline(Clock::time_point at, Clock::duration length) : at_(at), length_(length) {}

  Clock::time_point at_;
  Clock::duration length_;
};

// A duration as the log gives it: "300 ms" below a second, else whole
// seconds ("50 s").
std::string DurationText(Deadline::Clock::duration duration);

// The log's words for a wait that the request's budget ended:
// "within the request's time budget of 50 s".
std::string WithinBudget(const Deadline& budget);

}  // namespace veltrano::platform
