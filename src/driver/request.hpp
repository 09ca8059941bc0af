// One CGI run, from the program's own path to the last byte of the response.
//
// The phases, each taking what it needs and returning a value or a failure:
//   template   the name from the query string, resolved and read, its
//              sections and field definitions (template/); the rule that
//              its state files are not its data file (state_files.hpp)
//   pages      every page file the run may end with, read (response/
//              pages.hpp: LoadPages)
//   form       the submitted body (form/), checked against the fields
//              (validate/); a failed check ends the run with the error page
//   abuse      the honeypot, then the rate limit (validate/abuse.hpp); a
//              robot gets the success page and nothing else
//   mail       the RECIPIENTS check, then every mail of the submission
//              built, then sent in one SMTP session (mail/); the recipient
//              values go on to the later phases as the mails took them, in
//              lower case
//   outputs    the EXECUTE command, then the data-file record (outputs/)
//   response   the debug page or the success page (response/), the latter
//              made before the mail phase
// Template failures, a missing page among them, are therefore always
// reported before any problem with the submission, and nothing is mailed,
// run or written before every field passed and the page that will tell the
// visitor so is ready. Whatever happened before a failure stays done.
//
// RunProgram is the only place that writes the response: the page of the
// run, or the page of its failure together with one line in the
// administrator's log. Before the response goes out, what is left of the
// announced body is read and discarded. The exit status is always 0.
//
// The request has one time budget (RunSettings::budget, kRequestBudget from
// the program's start). Every wait ends at its own limit or at the end of
// the budget, whichever comes first: reading the body, the mail server's
// connection, replies and sends, pgp and the command, the locks of the
// rate-limit state file (a few seconds at most: platform/state_file.hpp)
// and the data file. A step the budget ends, or that starts once it is
// spent, fails as its own time-out would (a free lock is still taken: that
// waits for nothing), and its log line names the budget.
//
// The log of a run is bounded: at most kMaxNoticeLines lines of skipped
// outputs, then one line with the count of those left out, and the line of
// the failure that ended the run, which is never left out.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "mail/transport.hpp"
#include "platform/deadline.hpp"
#include "platform/process.hpp"
#include "platform/system.hpp"

namespace veltrano {

// The program's own name; matched without regard to ASCII case.
inline constexpr std::string_view kExecutableName = "veltrano2.exe";

// Whatever a run leaves unread of the announced body is read and discarded
// before the response goes out, up to this many bytes.
inline constexpr std::size_t kMaxDiscardedBody = 64 * 1024 * 1024;

// The time one request has for all its waits. nginx gives up on a CGI
// after 60 s (fastcgi_read_timeout); what is left after the budget is time
// to write the page before that.
inline constexpr std::chrono::seconds kRequestBudget{50};

// What a test may put in place of the real thing.
struct RunSettings {
  SmtpTransport* transport = nullptr;         // none: a TCP connection
  platform::ChildLimits childLimits;          // its budget is replaced by the one below
  platform::Deadline budget{kRequestBudget};  // counted from when the settings are made
  std::string pgpDirectory;                   // looked in for pgp.exe before PATH; none: PATH only
};

// Runs one request and returns the exit status, which is always 0.
int RunProgram(std::string_view programPath, platform::System& system,
               const RunSettings& settings = {});

// The directory text of the program's path: everything before the first
// occurrence of the executable name, in the path's own letter case, or none
// when the path does not hold the name.
std::optional<std::string> WorkingDirectoryOf(std::string_view programPath);

}  // namespace veltrano
