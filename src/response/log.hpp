// The administrator's log: one line per fatal page and per skipped output,
// on standard error, which web servers put in their error log:
//   veltrano2.exe: <template name as the query string gives it>: <what>: <detail>
// Every byte outside printable ASCII is written as \xNN, so no text from
// outside can forge a line or a terminal sequence, and a line is at most
// kMaxLogLine bytes. Details never carry a field's value other than an
// address.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrano {

inline constexpr std::size_t kMaxLogLine = 1000;

// "(none)" stands for a request without a template name.
std::string LogLine(std::string_view templateName, std::string_view text);

}  // namespace veltrano
