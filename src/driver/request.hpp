// One CGI run, from the program's own path to the last byte of the response.
//
// The order of a request is fixed: executable check and working directory,
// query string, template, sections, field definitions, form and checks (the
// error page ends the run there), then CompleteRequest: mails, QUIT, the
// external command, the data file, the SUCCEEDMSGFILE section, and the debug
// page or the success page. Whatever happened before a fatal page stays done.
//
// Every way a run ends (success page, error page, fatal page, debug page,
// console message) leads back to RunProgram, which writes a pending fatal
// page, flushes standard output and returns exit status 0.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"
#include "platform/system.hpp"

namespace veltrano {

// The program's own name; matched without regard to ASCII case.
inline constexpr std::string_view kExecutableName = "veltrano2.exe";

// Whatever a run leaves unread of the announced body is read and discarded
// before the response goes out, up to this many bytes.
inline constexpr std::size_t kMaxDiscardedBody = 64 * 1024 * 1024;

// Reads and discards the rest of the body CONTENT_LENGTH announces.
void DiscardUnreadBody(platform::System& system);

// Runs one request and returns the exit status, which is always 0.
int RunProgram(std::string_view programPath, platform::System& system);

// The request itself. Returns after the success page; otherwise ends by
// throwing FatalError or RequestEnded (response/response.hpp).
void HandleRequest(RequestContext& ctx, std::string_view programPath);

// The completion phase of an accepted submission.
void CompleteRequest(RequestContext& ctx);

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
