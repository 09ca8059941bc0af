// How an answer is framed: the CGI header of what the program writes
// itself, the headers a site's page file gets, JSON for scripts, the
// redirect after success and the answer to a CORS preflight.
//
// Until the template is read every answer is a page, as it always was
// (PageStyle). Then the request's style is fixed (AnswerStyleFor): JSON
// when Accept asks for it (accept.hpp), and, when ALLOWORIGIN lists the
// request's Origin, "Access-Control-Allow-Origin: ORIGIN" (or "*") and
// "Vary: Origin" on every answer. The Origin header is only compared: what
// is written is the listed origin's own text.
//
// The program's own answers start with the status: under IIS
// (SERVER_SOFTWARE holds "microsoft") the full status line, "HTTP/1.0 200
// OK" without a status; elsewhere a Status line when there is a status.
// Then their own headers, the cross-origin ones, the Content-type line and
// the empty line (an HTML page under IIS gets one more, as it always had).
// A site's page file brings its own header block: the cross-origin headers
// go at the block's end, before its empty line. A page without a block, or
// one that sets Access-Control-Allow-Origin itself, is left as it is.
//
// JSON answers ("application/json; charset=utf-8", RFC 8259), one line:
//   {"ok": true}, or {"ok": true, "next": URL} with SUCCEEDURL     200
//   {"ok": false, "errors": [{"field": NAME, "message": TEXT}, ...]}  422
//   {"ok": false, "error": TITLE, "message": TEXT}   the failure's status
//                                                    (405 with Allow: POST)
// Every string in them is valid JSON whatever its bytes (AppendJsonString).
//
// Only the requests that use these come here: the definitions are cold,
// so that the linker keeps them apart from the code every request runs,
// and a request answered with a page as before maps no more of the
// program for them (bench/README.md). What every request runs is the
// style, the ranking of Accept and a look at crossOrigin.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/failure.hpp"
#include "model/template.hpp"
#include "platform/system.hpp"
#include "response/catalogue.hpp"

namespace veltrano {

struct AnswerStyle {
  bool microsoft = false;  // the full status line of IIS
  bool json = false;
  std::string crossOrigin;  // the cross-origin header lines, each with its LF; or none
};

// Before the template is read.
AnswerStyle PageStyle(const platform::Environment& env);

// Once it is read: HTTP_ACCEPT and HTTP_ORIGIN weighed against `allowed`.
AnswerStyle AnswerStyleFor(const platform::Environment& env,
                           const std::optional<CrossOrigin>& allowed);

// The Access-Control-Allow-Origin value for a request from `origin`
// (untrusted): "*", or the listed origin it names; none when it names none
// or is no origin at all.
std::optional<std::string> AllowedOrigin(const CrossOrigin& allowed,
                                         const std::optional<std::string>& origin);

// Where the header block of a page file ends: the offset of the empty line
// after its CGI header lines ("Name: value", folded lines allowed); a line
// of only CR counts as empty, as web servers read it. None when the page
// does not begin with such a block.
std::optional<std::size_t> HeaderBlockEnd(std::string_view page);

// The program's own page (a failure, the debug page), with `headers` (each
// line with its LF) after the status.
std::string OwnPage(const AnswerStyle& style, const PageText& page, std::string_view headers = {});

// The answer to `failure`: the console message alone when the program was
// started by hand; else JSON or the program's own page.
std::string FailureAnswer(const AnswerStyle& style, const Failure& failure);

// The site's failure page (FATALMSGFILE), expanded: its status in front of
// its own header block.
std::string SiteFailureAnswer(const AnswerStyle& style, std::string_view status, std::string page);

// A success or error page file, expanded.
std::string SitePageAnswer(const AnswerStyle& style, std::string page);

// Success: `page` (the success page, expanded) or {"ok": true}.
std::string SuccessAnswer(const AnswerStyle& style, std::string page);

// Success with SUCCEEDURL: 303 See Other to `url`, with a short page that
// links to it, or {"ok": true, "next": URL}.
std::string RedirectAnswer(const AnswerStyle& style, std::string_view url);

// One line of the error page, for a script.
struct FieldError {
  std::string_view field;  // the NAME as the template spells it
  std::string message;     // its error text, expanded, as plain text
};
std::string FieldErrorsAnswer(const AnswerStyle& style, const std::vector<FieldError>& errors);

// The answer to an OPTIONS request with ALLOWORIGIN: 204, no body.
std::string PreflightAnswer(const AnswerStyle& style);

// Appends `text` as a JSON string: '"', '\' and the control characters
// below 0x20 escaped, and each byte that is no part of well-formed UTF-8
// written as U+FFFD.
void AppendJsonString(std::string& out, std::string_view text);

}  // namespace veltrano
