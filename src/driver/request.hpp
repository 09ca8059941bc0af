// One CGI run, from the program's own path to the last byte of the response.
//
// The phases, each taking what it needs and returning a value or a failure:
//   template   the name from the query string, resolved and read, its
//              sections and field definitions (template/)
//   form       the submitted body (form/), checked against the fields
//              (validate/); a failed check ends the run with the error page
//   mail       every mail of the submission (mail/), with texts expanded as
//              the mails go (expand/)
//   outputs    the EXECUTE command, then the data-file record (outputs/)
//   response   the debug page or the success page (response/)
// Template failures are therefore always reported before any problem with
// the submission, and nothing is mailed, run or written before every field
// passed. Whatever happened before a failure stays done.
//
// RunProgram is the only place that writes the response: the page of the
// run, or the page of its failure together with one line in the
// administrator's log. Before the response goes out, what is left of the
// announced body is read and discarded. The exit status is always 0.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "mail/transport.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

// The program's own name; matched without regard to ASCII case.
inline constexpr std::string_view kExecutableName = "veltrano2.exe";

// Whatever a run leaves unread of the announced body is read and discarded
// before the response goes out, up to this many bytes.
inline constexpr std::size_t kMaxDiscardedBody = 64 * 1024 * 1024;

// What a test may put in place of the real thing.
struct RunSettings {
  SmtpTransport* transport = nullptr;  // none: a TCP connection
  platform::ChildLimits childLimits;
  std::string pgpDirectory;  // looked in for pgp.exe before PATH; none: PATH only
};

// Runs one request and returns the exit status, which is always 0.
int RunProgram(std::string_view programPath, platform::System& system,
               const RunSettings& settings = {});

// The directory text of the program's path: everything before the first
// occurrence of the executable name, in the path's own letter case, or none
// when the path does not hold the name.
std::optional<std::string> WorkingDirectoryOf(std::string_view programPath);

// The template name and debug switch of a query string. "&" separates; runs
// of separators count as one, so no token is empty; tokens after the second
// are ignored.
struct QueryTokens {
  std::optional<std::string> templateName;
  std::optional<std::string> debugToken;
};
QueryTokens SplitQuery(std::string_view query);

}  // namespace veltrano
