// One CGI run, from the program's own path to the last byte of the response.
//
// The phases, each taking what it needs and returning a value or a failure:
//   template   the name from the query string, resolved and read, its
//              sections and field definitions (template/); from here on
//              every answer takes the request's style (response/
//              answers.hpp): JSON when Accept asks for it, the cross-origin
//              headers for an origin ALLOWORIGIN lists; with ALLOWORIGIN an
//              OPTIONS request is answered as a preflight and ends there
//   pages      the site's failure page first (FATALMSGFILE), so that every
//              later failure shows through it; the rule that the template's
//              state files are not its data file (state_files.hpp); every
//              other page file the run may end with (response/pages.hpp)
//   form       the submitted body (form/), checked against the fields
//              (validate/); a failed check ends the run with the error page
//              (for a script, the list of its lines)
//   abuse      the honeypot, then the rate limit (validate/abuse.hpp); a
//              robot is answered as a success and nothing else is done
//   mail       the RECIPIENTS check, then every mail of the submission
//              built, then sent in one SMTP session (mail/); the recipient
//              values go on to the later phases as the mails took them, in
//              lower case
//   outputs    the EXECUTE command, then the data-file record (outputs/)
//   response   the debug page, or success: the redirect of SUCCEEDURL, the
//              success page (made before the mail phase) or its JSON
// Template failures, a missing page among them, are therefore always
// reported before any problem with the submission, and nothing is mailed,
// run or written before every field passed and the page that will tell the
// visitor so is ready. Whatever happened before a failure stays done.
//
// RunProgram is the only place that writes the answer to a failure, with
// one line in the administrator's log: the site's failure page (expanded
// with the values the run had read by then; the program's own page when
// that can't be made), JSON, or the program's own page. Before the
// response goes out, what is left of the announced body is read and
// discarded. The exit status is always 0.
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
