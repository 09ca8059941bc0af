#include "platform/deadline.hpp"

#include <climits>

namespace veltrano::platform {

Deadline Deadline::Never() {
  return Deadline(Clock::time_point::max(), Clock::duration::max());
}

int Deadline::MillisecondsLeft() const {
  const Clock::time_point now = Clock::now();
  if (at_ <= now) return 0;
  // Rounded up: a wait given this time never ends before the deadline, so
  // once it has ended for lack of time, Passed() is true.
  auto left = std::chrono::ceil<std::chrono::milliseconds>(at_ - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

Deadline Deadline::Within(Clock::duration limit) const {
  const Clock::time_point now = Clock::now();
  // Compared as time left, which cannot overflow the way now + limit could.
  if (at_ <= now || at_ - now <= limit) return *this;
  return Deadline(limit);
}

std::string DurationText(Deadline::Clock::duration duration) {
  using std::chrono::duration_cast;
  if (duration < std::chrono::seconds(1)) {
    return std::to_string(duration_cast<std::chrono::milliseconds>(duration).count()) + " ms";
  }
  return std::to_string(duration_cast<std::chrono::seconds>(duration).count()) + " s";
}

std::string WithinBudget(const Deadline& budget) {
  return "within the request's time budget of " + DurationText(budget.length());
}

}  // namespace veltrano::platform
