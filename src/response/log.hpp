// The administrator's log: one line per fatal page and per skipped output,
// on standard error, which web servers put in their error log:
//   veltrano2.exe: <template name as the query string gives it>: <what>: <detail>
// Every byte outside printable ASCII is written as \xNN, so no text from
// outside can forge a line or a terminal sequence, and a line is at most
// kMaxLogLine bytes. Details never carry a field's value other than an
// address. A run writes at most kMaxNoticeLines lines of skipped outputs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrano {

inline constexpr std::size_t kMaxLogLine = 1000;

// Lines of skipped outputs that one run writes; the request driver counts
// the rest and logs their number. A visitor decides how many some of them
// are (uploaded files, empty recipient fields), and the error log is shared
// by every site on the web server.
inline constexpr std::size_t kMaxNoticeLines = 20;

// "(none)" stands for a request without a template name.
std::string LogLine(std::string_view templateName, std::string_view text);

}  // namespace veltrano
