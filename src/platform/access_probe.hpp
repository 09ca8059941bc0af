// What a user may do with the files a program will use, found out the way
// the program does it: each probe opens the file, or asks access(2), as
// that use would, and nothing is created, written or changed.
//
//   kRead      opened for reading; it must be a regular file
//   kWrite     a file that exists is opened for reading and writing (as the
//              data file and the rate-limit state file are); one that does
//              not needs a directory the user may create files in
//   kCreateIn  a directory the user may create files in (write and search)
//   kExecute   a regular file the user may run
//
// Opening never waits: a FIFO is opened without blocking and refused as not
// a regular file. A probe that does not follow links refuses a symbolic
// link at its path, as open(2) with O_NOFOLLOW does. The probes run as this
// process: a root program runs them in a child that has become the user
// (accounts.hpp).
#pragma once

#include <string>
#include <vector>

namespace veltrano::platform {

enum class AccessKind { kRead, kWrite, kCreateIn, kExecute };

struct AccessProbe {
  AccessKind kind;
  std::string path;
  bool followLinks = true;
};

struct AccessOutcome {
  bool allowed = false;
  bool exists = true;  // false: nothing is at the path (kWrite: the file would be created)
  std::string reason;  // when not allowed: why, e.g. "Permission denied"
};

// The outcome of each probe, in order, for this process.
std::vector<AccessOutcome> ProbeAccess(const std::vector<AccessProbe>& probes);

}  // namespace veltrano::platform
