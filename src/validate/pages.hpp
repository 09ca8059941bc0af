// The error page and the success page. Both come from files the template
// names (ERRMSGFILE, SUCCEEDMSGFILE), loaded with LoadTextFile; each file
// holds the whole response, its CGI header lines included, so nothing is
// written ahead of it or after it.
//
// ShowErrorPage puts one "<li>" item per failed field, in template order,
// where the file first holds "$err$" (any letter case): the required-field
// text of a missing required field, the type text of an invalid one. A file
// without the marker gives an empty response. The page before expansion is
// bounded at kMaxExpandedLength ("Maximum size reached" page), and so is the
// expanded page. ShowSuccessPage loads and expands its file as it stands.
//
// Placeholders in both pages are expanded with their replacements
// HTML-escaped: the page text and the administrator's error texts are
// trusted, submitted and environment values are not. A missing or unreadable
// file gives the "Load Failure" page.
#pragma once

#include "driver/request_context.hpp"

namespace veltrano {

// Writes the error page and ends the request.
[[noreturn]] void ShowErrorPage(RequestContext& ctx);

// Writes the success page and returns.
void ShowSuccessPage(RequestContext& ctx);

}  // namespace veltrano
