// An exclusive flock(2) that waits no longer than its limit and the
// request's budget: the one lock of the data file and of state files.
//
// flock has no time-out of its own. The lock is tried without blocking and
// tried again after short sleeps (from 1 ms, doubling up to 20 ms) until it
// is taken, the limit is reached or the budget ends, so a process that holds
// the lock for ever (a hung program, an administrator's `flock FILE sleep
// 120`) can't hold the request past either. A free lock is taken even once
// they have passed: taking it waits for nothing, and refusing it would lose
// a record for no reason. Waiters are not served in order, which at the
// rate of form submissions does not matter.
#pragma once

#include <optional>
#include <string>

#include "platform/deadline.hpp"

namespace veltrano::platform {

// Locks `fd`; none once the lock is held, else why, for the log: the
// operating system's reason, "no lock within 3 s" (the limit) or "no lock
// within the request's time budget of 50 s".
std::optional<std::string> LockExclusive(
    int fd, const Deadline& budget,
    Deadline::Clock::duration limit = Deadline::Clock::duration::max());

}  // namespace veltrano::platform
