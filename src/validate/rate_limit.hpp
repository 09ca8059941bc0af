// The rate limit: at most COUNT accepted submissions per client address
// within SECONDS, counted in a state file that every request of every
// template naming it shares.
//
// The state file holds one line per accepted submission, oldest first:
// "<epoch seconds> <window seconds> <client>". A line whose window has
// passed is dropped at the next update; unreadable lines are dropped too,
// and reported. The file never grows past kMaxRateState bytes: when a new
// line would not fit, the oldest lines make room, so a new client is never
// refused for lack of space. A submission over the limit is not counted.
//
// The state file is kept as platform/state_file.hpp says: opened without
// following a symbolic link, locked through PATH.lock, replaced whole
// through PATH.tmp, so no signal, crash or full disk leaves it emptier than
// meant. It must be a regular file, and is replaced only when it is a state
// file: empty, or its first line a state line. Any other file (a data file
// named by mistake, say) is left byte for byte as it is.
//
// Only a state file that cannot be opened, locked within its wait, read or
// replaced, or is no state file, makes the limiter step aside (kUnusable):
// a broken or busy limiter must not take the form down. A state that could
// not be replaced keeps its old lines, and the problem says how many.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/template.hpp"
#include "platform/deadline.hpp"
#include "platform/state_file.hpp"

namespace veltrano {

inline constexpr std::size_t kMaxRateState = 1024 * 1024;

struct RateVerdict {
  enum class Outcome { kAccepted, kRefused, kUnusable };
  Outcome outcome = Outcome::kAccepted;
  std::string problem;           // kUnusable: why
  std::size_t droppedLines = 0;  // unreadable lines the update dropped from the file
};

// Counts one submission of `client` at `now` against the limit, under the
// state file's lock. An empty client (no REMOTE_ADDR) is one shared client.
// The state's lock is waited for `lockWait` at most, and never past `budget`.
RateVerdict CountSubmission(
    const RateLimit& limit, std::string_view client, long long now,
    const platform::Deadline& budget = platform::Deadline::Never(),
    platform::Deadline::Clock::duration lockWait = platform::kStateLockWait);

}  // namespace veltrano
