// Everything the program says to the web server goes through here.
//
// A fatal failure is raised with ReportFatal, which never returns: it throws
// FatalError up to the request's entry point, which writes the page
// (WriteFatalPage) and ends the run with exit status 0. Pages that end a run
// after writing their own response (the error page, the console message)
// use EndRequest. Raising instead of exiting keeps every fatal path testable
// in-process: a test catches FatalError and reads its title and message.
//
// Messages are HTML fragments written byte for byte; callers escape any
// untrusted text they put into one (HtmlEscape in text/text.hpp).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system.hpp"

namespace veltrano {

// A fatal page not yet written. Deliberately not a std::exception, so that a
// catch of unexpected errors never swallows it.
struct FatalError {
  std::optional<std::string> title;
  std::string message;
};

// The response has been written in full; the run ends with exit status 0.
struct RequestEnded {};

[[noreturn]] void ReportFatal(std::optional<std::string_view> title, std::string_view message);
[[noreturn]] void EndRequest();

// The CGI header (full status header when SERVER_SOFTWARE contains
// "microsoft" in any case, plain otherwise), "<HTML>\n" and, when given, the
// title line "<TITLE>title</TITLE>".
void WritePageHeader(const platform::System& system, std::optional<std::string_view> title);

// Writes a finished page text as it stands; no header of its own.
void WritePage(platform::Output& output, std::string_view text);

// The page of a fatal error: header, "<HTML>\n", optional title line, message.
void WriteFatalPage(const platform::System& system, const FatalError& error);

}  // namespace veltrano
