#include "platform/file_lock.hpp"

#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/files.hpp"

namespace veltrano::platform {

namespace {

constexpr std::chrono::milliseconds kFirstPause{1};
// Short enough that a lock let go is taken soon after, long enough that a
// waiter costs next to nothing while it waits.
constexpr std::chrono::milliseconds kLongestPause{20};

}  // namespace

std::optional<std::string> LockExclusive(int fd, const Deadline& budget,
                                         Deadline::Clock::duration limit) {
  const Deadline deadline = budget.Within(limit);
  std::chrono::milliseconds pause = kFirstPause;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::nullopt;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return ErrorText(errno);
    const int left = deadline.MillisecondsLeft();
    if (left <= 0) {
      return "no lock " +
             (budget.Passed() ? WithinBudget(budget) : "within " + DurationText(limit));
    }
    std::this_thread::sleep_for(std::min(pause, std::chrono::milliseconds(left)));
    pause = std::min(pause * 2, kLongestPause);
  }
}

}  // namespace veltrano::platform
