// Everything the program writes as its response.
//
// Fatal pages get a CGI header from the program: when SERVER_SOFTWARE
// contains "microsoft" (any case), the full status header, whose first line
// carries the page's status ("HTTP/1.0 503 Service Unavailable"); otherwise
// the plain one, after a Status line when the catalogue gives the page a
// status (500, 503, 429). Then "<HTML>\n", the title line when there is a
// title, and the message. The debug page is one of them (200 OK), with the
// SMTP transcript as its message. A run without a CGI environment gets the
// plain console message instead, with no header.
//
// The success and error pages come from files the template names, read up
// front (LoadPages); each file holds the whole response, its CGI header
// lines included, so nothing is written ahead of it or after it. The error
// page puts one "<li>" item per failed check where the file first holds
// "$err$" (any letter case), field by field in template order: the
// required-field text of a missing required field, the type text of an
// invalid one, the MAXLENERR text of one that is too long, then the
// ATTACHERR text of a file ATTACH refuses; a file without the marker gives
// an empty
// response. The page before expansion is bounded at kMaxExpandedLength, and
// so is the expanded page. Both pages are expanded with their replacements
// HTML-escaped, and kept on one line in the page's header block (HtmlPage).
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
#include "template/aliases.hpp"

namespace veltrano {

// Where an error page file takes the list of failed fields (any letter case).
inline constexpr std::string_view kErrorMarker = "$err$";

void WriteFatalPage(platform::Output& output, const platform::Environment& env,
                    const Failure& failure);

void WriteDebugPage(platform::Output& output, const platform::Environment& env,
                    const Transcript& transcript);

// The longest page file read. A page's text is bounded again when it is
// expanded (kMaxExpandedLength); this bound only keeps a file that is no
// page (a log, a disk image) from being read into memory whole, so a page a
// little too long still gets the expansion's own failure.
inline constexpr std::size_t kMaxPageFileSize = 1024 * 1024;

// A page file's text; `unreadable` is the failure when it can't be read or
// is over kMaxPageFileSize.
Result<std::string> LoadPageFile(const std::string& path, FailureKind unreadable);
// The texts of the page files a request may end with.
struct PageFiles {
  std::string errorPage;    // ERRMSGFILE
  std::string successPage;  // SUCCEEDMSGFILE
};

// Every page file the template names, read through the aliases before
// anything is sent, so that a page that can't be shown ends the request
// while nothing is done yet: a missing SUCCEEDMSGFILE tag, an alias without
// a file name, or a file that can't be read (kErrorPageUnreadable,
// kSuccessPageUnreadable).
Result<PageFiles> LoadPages(const Template& t, const PathAliases& aliases);

Result<std::string> ErrorPage(std::string_view file, const std::vector<FieldDefinition>& fields,
                              const std::vector<FieldCheck>& checks,
                              const PlaceholderValues& values);

Result<std::string> SuccessPage(std::string_view file, const PlaceholderValues& values);

}  // namespace veltrano
