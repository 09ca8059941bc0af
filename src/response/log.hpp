// The administrator's log: one line per fatal page and per skipped output,
// on standard error, which web servers put in their error log:
//   <time> <client> <template> <pid> veltrano2.exe: <what>: <detail>
// e.g.
//   2026-12-07T18:02:11+01:00 203.0.113.9 forms/contact.tpl 4242 veltrano2.exe: data file ...
// The time is ISO 8601 with the zone offset, the client REMOTE_ADDR, the
// template its name as the query string gives it, the pid the process's:
// enough to find the visit in the web server's access log and the other
// lines of the same run. These four fields never hold a space (written as
// \x20), stand as "-" when absent (a value that is "-" itself is \x2d), and
// are cut at kMaxLogField bytes, so that `awk` can split every line alike
// and the message always has room.
// Every byte outside printable ASCII is written as \xNN, so no text from
// outside can forge a line or a terminal sequence, and a line is at most
// kMaxLogLine bytes. Details never carry a field's value other than an
// address. A run writes at most kMaxNoticeLines lines of skipped outputs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/system.hpp"

namespace veltrano {

inline constexpr std::size_t kMaxLogLine = 1000;

// The most bytes of each field that starts a line. REMOTE_ADDR is at most
// an IPv6 address with a zone; a template name longer than this is a
// visitor's doing, and must not push the message out of the line.
inline constexpr std::size_t kMaxLogField = 200;

// Lines of skipped outputs that one run writes; the request driver counts
// the rest and logs their number. A visitor decides how many some of them
// are (uploaded files, empty recipient fields), and the error log is shared
// by every site on the web server.
inline constexpr std::size_t kMaxNoticeLines = 20;

// Where and when a line was written.
struct LogOrigin {
  platform::LocalTime time;
  std::string_view client;        // REMOTE_ADDR; empty: none
  std::string_view templateName;  // as the query string gives it; empty: none
  int processId = 0;
};

std::string LogLine(const LogOrigin& origin, std::string_view text);

}  // namespace veltrano
