// An exclusive flock(2) that waits no longer than a deadline: the one lock
// of the data file and of the rate-limit state file.
//
// flock has no time-out of its own. The lock is tried without blocking and
// tried again after short sleeps (from 1 ms, doubling up to 20 ms) until it
// is taken or the deadline passes, so a process that holds the lock for
// ever (a hung program, an administrator's `flock FILE sleep 120`) can't
// hold the request past its budget. A free lock is taken even once the
// deadline has passed: taking it waits for nothing, and refusing it would
// lose a record for no reason. Waiters are not served in order, which at the
// rate of form submissions does not matter.
#pragma once

#include <optional>
#include <string>

#include "platform/deadline.hpp"

namespace veltrano::platform {

// Locks `fd`; none once the lock is held, else why, for the log: the
// operating system's reason, or "no lock within the request's time budget
// of 50 s" (the deadline is the request's budget).
std::optional<std::string> LockExclusive(int fd, const Deadline& deadline);

}  // namespace veltrano::platform
