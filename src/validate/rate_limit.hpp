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
// The state file is opened without following a symbolic link, must be a
// regular file, and is rewritten only when it is one: empty, or its first
// line a state line. Any other file (a data file named by mistake, say) is
// left byte for byte as it is. Its lock is waited for until the request's
// budget ends.
//
// Only a state file that cannot be opened, locked, read or written, or is
// no state file, makes the limiter step aside (kUnusable): a broken limiter
// must not take the form down.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/template.hpp"
#include "platform/deadline.hpp"

namespace veltrano {

inline constexpr std::size_t kMaxRateState = 1024 * 1024;

struct RateVerdict {
  enum class Outcome { kAccepted, kRefused, kUnusable };
  Outcome outcome = Outcome::kAccepted;
  std::string problem;           // kUnusable: why
  std::size_t droppedLines = 0;  // unreadable lines the update dropped
};

// Counts one submission of `client` at `now` against the limit, under the
// state file's lock. An empty client (no REMOTE_ADDR) is one shared client.
RateVerdict CountSubmission(const RateLimit& limit, std::string_view client, long long now,
                            const platform::Deadline& budget = platform::Deadline::Never());

}  // namespace veltrano
