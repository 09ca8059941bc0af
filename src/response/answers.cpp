#include "response/answers.hpp"

#include <algorithm>

#include "response/accept.hpp"
#include "text/text.hpp"
#include "text/web_address.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kServerTestWord = "microsoft";
constexpr std::string_view kHtmlType = "text/html";
constexpr std::string_view kJsonType = "application/json; charset=utf-8";
constexpr std::string_view kAllowOriginHeader = "Access-Control-Allow-Origin";

// IIS takes a full status line; other servers read a Status header, and
// need none for 200.
[[gnu::cold]] std::string StatusLine(const AnswerStyle& style, std::string_view status) {
  if (style.microsoft) return "HTTP/1.0 " + std::string(status.empty() ? "200 OK" : status) + "\n";
  if (status.empty()) return {};
  return "Status: " + std::string(status) + "\n";
}

// The status line, `headers`, the cross-origin headers, the Content-type
// line (none without a type) and the empty line.
[[gnu::cold]] std::string Head(const AnswerStyle& style, std::string_view status,
                               std::string_view headers, std::string_view contentType) {
  std::string head = StatusLine(style, status);
  head += headers;
  head += style.crossOrigin;
  if (!contentType.empty()) {
    head += "Content-type: ";
    head += contentType;
    head += "\n";
  }
  head += "\n";
  return head;
}

[[gnu::cold]] std::string Json(const AnswerStyle& style, std::string_view status,
                               std::string_view body, std::string_view headers = {}) {
  std::string answer = Head(style, status, headers, kJsonType);
  answer += body;
  answer += "\n";
  return answer;
}

// "name": "value"
[[gnu::cold]] void AppendJsonMember(std::string& out, std::string_view name,
                                    std::string_view value) {
  AppendJsonString(out, name);
  out += ": ";
  AppendJsonString(out, value);
}

// Whether a line of `block` sets the header `name` (ASCII case ignored).
[[gnu::cold]] bool SetsHeader(std::string_view block, std::string_view name) {
  for (std::string_view line : SplitLines(block)) {
    if (line.size() > name.size() && line[name.size()] == ':' &&
        EqualsNoCase(line.substr(0, name.size()), name)) {
      return true;
    }
  }
  return false;
}

// `page` with `headers` at the end of its header block, when it has one
// that does not set Access-Control-Allow-Origin itself.
[[gnu::cold]] std::string WithCrossOrigin(std::string_view headers, std::string page) {
  const std::optional<std::size_t> end = HeaderBlockEnd(page);
  if (!end || SetsHeader(std::string_view(page).substr(0, *end), kAllowOriginHeader)) return page;
  page.insert(*end, headers);
  return page;
}

}  // namespace

AnswerStyle PageStyle(const platform::Environment& env) {
  const std::optional<std::string> server = env.Get("SERVER_SOFTWARE");
  AnswerStyle style;
  style.microsoft = server && FindNoCase(*server, kServerTestWord).has_value();
  return style;
}

AnswerStyle AnswerStyleFor(const platform::Environment& env,
                           const std::optional<CrossOrigin>& allowed) {
  AnswerStyle style = PageStyle(env);
  if (const std::optional<std::string> accept = env.Get("HTTP_ACCEPT")) {
    style.json = PrefersJson(*accept);
  }
  if (allowed) {
    if (std::optional<std::string> origin = AllowedOrigin(*allowed, env.Get("HTTP_ORIGIN"))) {
      style.crossOrigin = std::string(kAllowOriginHeader) + ": " + *origin + "\nVary: Origin\n";
    }
  }
  return style;
}

[[gnu::cold]] std::optional<std::string> AllowedOrigin(const CrossOrigin& allowed,
                                                       const std::optional<std::string>& origin) {
  if (!origin) return std::nullopt;
  const std::optional<std::string> normalized = NormalizedOrigin(*origin);
  if (!normalized) return std::nullopt;
  if (allowed.any) return "*";
  const auto listed = std::find(allowed.origins.begin(), allowed.origins.end(), *normalized);
  if (listed == allowed.origins.end()) return std::nullopt;
  return *listed;
}

[[gnu::cold]] std::optional<std::size_t> HeaderBlockEnd(std::string_view page) {
  std::size_t headerLines = 0;
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t end = std::min(page.find('\n', at), page.size());
    std::string_view line = page.substr(at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) {
      if (headerLines == 0) return std::nullopt;
      return at;
    }
    at = end + 1;
    if (headerLines > 0 && (line.front() == ' ' || line.front() == '\t')) continue;
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
    for (char c : line.substr(0, colon)) {
      if (c <= ' ' || c >= 0x7F) return std::nullopt;
    }
    ++headerLines;
  }
  return std::nullopt;
}

[[gnu::cold]] std::string OwnPage(const AnswerStyle& style, const PageText& page,
                                  std::string_view headers) {
  std::string text = Head(style, page.status, headers, kHtmlType);
  if (style.microsoft) text += "\n";
  text += "<HTML>\n";
  if (page.title) text += "<TITLE>" + *page.title + "</TITLE>";
  text += page.message;
  return text;
}

[[gnu::cold]] std::string FailureAnswer(const AnswerStyle& style, const Failure& failure) {
  // Started by hand: the console gets the message alone, no header, no HTML.
  if (failure.kind == FailureKind::kNoCgiEnvironment) return PageFor(failure).message;
  if (!style.json) return OwnPage(style, PageFor(failure));
  const FailureText text = PlainTextFor(failure);
  std::string body = "{\"ok\": false, ";
  AppendJsonMember(body, "error", text.title);
  body += ", ";
  AppendJsonMember(body, "message", text.message);
  body += "}";
  // A 405 names the methods that are allowed (RFC 9110 15.5.6).
  return Json(style, text.status, body, text.status.starts_with("405") ? "Allow: POST\n" : "");
}

[[gnu::cold]] std::string SiteFailureAnswer(const AnswerStyle& style, std::string_view status,
                                            std::string page) {
  return StatusLine(style, status) + SitePageAnswer(style, std::move(page));
}

std::string SitePageAnswer(const AnswerStyle& style, std::string page) {
  if (style.crossOrigin.empty()) return page;
  return WithCrossOrigin(style.crossOrigin, std::move(page));
}

std::string SuccessAnswer(const AnswerStyle& style, std::string page) {
  if (style.json) return Json(style, {}, "{\"ok\": true}");
  return SitePageAnswer(style, std::move(page));
}

[[gnu::cold]] std::string RedirectAnswer(const AnswerStyle& style, std::string_view url) {
  if (style.json) {
    std::string body = "{\"ok\": true, ";
    AppendJsonMember(body, "next", url);
    body += "}";
    return Json(style, {}, body);
  }
  const std::string link = HtmlEscape(url);
  const PageText page{"Form sent",
                      "The form was sent.  <A HREF=\"" + link + "\">" + link + "</A>\n",
                      "303 See Other"};
  return OwnPage(style, page, "Location: " + std::string(url) + "\n");
}

[[gnu::cold]] std::string FieldErrorsAnswer(const AnswerStyle& style,
                                            const std::vector<FieldError>& errors) {
  std::string body = "{\"ok\": false, \"errors\": [";
  for (const FieldError& error : errors) {
    if (&error != &errors.front()) body += ", ";
    body += "{";
    AppendJsonMember(body, "field", error.field);
    body += ", ";
    AppendJsonMember(body, "message", error.message);
    body += "}";
  }
  body += "]}";
  return Json(style, "422 Unprocessable Content", body);
}

[[gnu::cold]] std::string PreflightAnswer(const AnswerStyle& style) {
  return Head(style, "204 No Content",
              "Access-Control-Allow-Methods: POST\n"
              "Access-Control-Allow-Headers: Content-Type, Accept\n"
              "Access-Control-Max-Age: 86400\n",
              {});
}

[[gnu::cold]] void AppendJsonString(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) {
      const std::size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        out += "\xEF\xBF\xBD";  // U+FFFD
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20) {
          out += "\\u00";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace veltrano
