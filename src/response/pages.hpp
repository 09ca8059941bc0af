// Everything the program writes as its response.
//
// Fatal pages get a CGI header from the program (answers.hpp): when
// SERVER_SOFTWARE contains "microsoft" (any case), the full status header,
// whose first line carries the page's status ("HTTP/1.0 503 Service
// Unavailable"); otherwise the plain one, after a Status line when the
// catalogue gives the page a status (500, 503, 429). Then "<HTML>\n", the
// title line when there is a title, and the message. The debug page is one
// of them (200 OK), with the SMTP transcript as its message. A run without
// a CGI environment gets the plain console message instead, with no header.
//
// The success and error pages come from files the template names, read up
// front (LoadPages); each file holds the whole response, its CGI header
// lines included, so nothing is written ahead of it or after it. The error
// page puts one "<li>" item per failed check where the file first holds
// "$err$" (any letter case), field by field in template order: the
// required-field text of a missing required field, the type text of an
// invalid one, the MAXLENERR text of one that is too long, then the
// ATTACHERR text of a file ATTACH refuses; a file without the marker gives
// an empty response. The page before expansion is bounded at
// kMaxExpandedLength, and so is the expanded page. Both pages are expanded
// with their replacements HTML-escaped, and kept on one line in the page's
// header block (HtmlPage). For a script the error page's lines are a list
// instead (FieldErrors).
//
// The site's failure page (FATALMSGFILE) stands in for the fatal pages
// once the template is read. It is expanded like the success page, and
// two names give the fatal page's own parts: $err$ its message, as that
// page would show it (HTML, the SMTP conversation included), and
// $errtitle$ its title. Both come before any field of those names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "expand/placeholders.hpp"
#include "model/failure.hpp"
#include "model/fields.hpp"
#include "model/result.hpp"
#include "model/template.hpp"
#include "platform/system.hpp"
#include "response/answers.hpp"
#include "response/catalogue.hpp"
#include "template/aliases.hpp"

namespace veltrano {

// Where an error page file takes the list of failed fields (any letter case).
inline constexpr std::string_view kErrorMarker = "$err$";

void WriteFatalPage(platform::Output& output, const platform::Environment& env,
                    const Failure& failure);

void WriteDebugPage(platform::Output& output, const platform::Environment& env,
                    const Transcript& transcript);

PageText DebugPage(const Transcript& transcript);

// The longest page file read. A page's text is bounded again when it is
// expanded (kMaxExpandedLength); this bound only keeps a file that is no
// page (a log, a disk image) from being read into memory whole, so a page a
// little too long still gets the expansion's own failure.
inline constexpr std::size_t kMaxPageFileSize = 1024 * 1024;

// A page file's text; `unreadable` is the failure when it can't be read or
// is over kMaxPageFileSize.
Result<std::string> LoadPageFile(const std::string& path, FailureKind unreadable);

// The site's failure page (FATALMSGFILE), none without the section. It is
// read first of all pages, so that a failure to read the others is shown
// through it; one that can't be read is kFailurePageUnreadable, with the
// program's own page.
Result<std::optional<std::string>> LoadFailurePage(const Template& t, const PathAliases& aliases);

// The texts of the page files a request may end with.
struct PageFiles {
  std::string errorPage;                   // ERRMSGFILE
  std::optional<std::string> successPage;  // SUCCEEDMSGFILE; none with SUCCEEDURL
};

// Every other page file the template names, read through the aliases before
// anything is sent, so that a page that can't be shown ends the request
// while nothing is done yet: a missing SUCCEEDMSGFILE tag, an alias without
// a file name, or a file that can't be read (kErrorPageUnreadable,
// kSuccessPageUnreadable). With SUCCEEDURL the success page is not read.
Result<PageFiles> LoadPages(const Template& t, const PathAliases& aliases);

Result<std::string> ErrorPage(std::string_view file, const std::vector<FieldDefinition>& fields,
                              const std::vector<FieldCheck>& checks,
                              const PlaceholderValues& values);

// The lines of the error page in their order: field by field, the
// REQUIREDERR text of a missing required field, the TYPEERR text of an
// invalid one, the MAXLENERR text of one too long, the ATTACHERR text of a
// refused file.
struct ErrorLine {
  std::size_t field;  // its place in the template
  std::string_view text;
};
std::vector<ErrorLine> ErrorLines(const std::vector<FieldDefinition>& fields,
                                  const std::vector<FieldCheck>& checks);

// The error page's lines for a script: each field's name and its text
// expanded, its replacements as they are.
Result<std::vector<FieldError>> FieldErrors(const std::vector<FieldDefinition>& fields,
                                            const std::vector<FieldCheck>& checks,
                                            const PlaceholderValues& values);

Result<std::string> SuccessPage(std::string_view file, const PlaceholderValues& values);

// The names the failure page answers with the fatal page's message and title.
inline constexpr std::string_view kFailureMessageName = "err";
inline constexpr std::string_view kFailureTitleName = "errtitle";

Result<std::string> FailurePage(std::string_view file, const PageText& page,
                                const PlaceholderValues& values);

}  // namespace veltrano
