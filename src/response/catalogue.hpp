// What the visitor and the administrator are told, for every way a request
// can end early and every output it skips.
//
// One table holds a row for each failure kind: the page's title (none for
// the pages that have none), its message (fixed HTML around what the page
// shows of the case), how that is shown, the words of the administrator's
// log line, and the HTTP status. Of the failure's text, template text
// (entries, tokens, field names, tags) is shown as it stands, since the
// administrator wrote it; query-string text and addresses are HTML-escaped;
// the SMTP transcript is rendered with every command and reply escaped.
// The status is 503 Service Unavailable when the mail server could not be
// reached or did not take a mail, 500 Internal Server Error for every fault
// the administrator must fix, 429 Too Many Requests over the rate limit,
// and none (the web server's 200 OK) for a page caused by what the visitor
// sent. A JSON answer has a status for these too: 405 for a method other
// than POST, 413 for a body too large, 400 for the rest. A second table
// words the log line of each notice.
//
// LogText gives the words of the administrator's log line for a failure or
// a notice: what happened, then the detail.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/failure.hpp"
#include "model/notices.hpp"

namespace veltrano {

struct PageText {
  std::optional<std::string> title;
  std::string message;
  // The HTTP status the page goes out with, e.g. "503 Service Unavailable";
  // empty: no Status line, the web server answers 200 OK.
  std::string_view status{};
};

PageText PageFor(const Failure& failure);

// The failure as a script reads it in a JSON answer: the page's title (empty
// without one) and its message as plain text (the fixed HTML's tags dropped,
// its entities decoded, its white space single spaces; what the page shows
// of the case as it stands; no SMTP conversation, a fixed sentence in its
// place); and the answer's status, which is never empty.
struct FailureText {
  std::string title;
  std::string message;
  std::string_view status;
};
FailureText PlainTextFor(const Failure& failure);

// "what happened: detail" for the log (detail left out when empty).
std::string LogText(const Failure& failure);
std::string LogText(NoticeKind kind, std::string_view detail);

// The conversation as the SMTP pages show it: the protocol text escaped,
// joined as it came, with the fixed texts of the failures that ended it.
std::string TranscriptHtml(const Transcript& transcript);

}  // namespace veltrano
