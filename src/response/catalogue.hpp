// What the visitor and the administrator are told, for every way a request
// can end early and every output it skips.
//
// PageFor gives a failure's page: its title (none for the two pages that
// have none) and its message, an HTML fragment with fixed wording. Of the
// failure's text, template text (entries, tokens, field names, tags) is shown
// as it stands, since the administrator wrote it; query-string text and
// addresses are HTML-escaped; the SMTP transcript is rendered with every
// command and reply escaped. LogText gives the words of the administrator's
// log line for a failure or a notice: what happened, then the detail.
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
  std::string status = "200 OK";  // the HTTP status the page goes out with
};

PageText PageFor(const Failure& failure);

// "what happened: detail" for the log (detail left out when empty).
std::string LogText(const Failure& failure);
std::string LogText(NoticeKind kind, std::string_view detail);

// The conversation as the SMTP pages show it: the protocol text escaped,
// joined as it came, with the fixed texts of the failures that ended it.
std::string TranscriptHtml(const Transcript& transcript);

}  // namespace veltrano
