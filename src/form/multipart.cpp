#include "form/multipart.hpp"

#include <algorithm>

#include "form/multipart_internal.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// RFC 2046 5.1.1: a boundary is 1 to 70 characters.
constexpr std::size_t kMaxBoundaryLength = 70;

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && IsSpaceOrTab(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpaceOrTab(text.back())) text.remove_suffix(1);
  return text;
}

// The value before the parameters: "form-data", "multipart/form-data".
std::string_view MainValue(std::string_view value) {
  return TrimSpaces(value.substr(0, value.find(';')));
}

Failure Malformed(std::string detail) {
  return Fail(FailureKind::kMalformedMultipart, {}, std::move(detail));
}

// A delimiter line: CR LF (none for one at the very start of the body),
// "--", the boundary, then "--" for the closing one, or else optional
// spaces and tabs and CR LF.
struct Delimiter {
  std::size_t start;  // where it begins in the body
  std::size_t next;   // just past its line end (a closing one: the body's end)
  bool closing;
};

std::optional<Delimiter> NextDelimiter(std::string_view body, std::string_view dashBoundary,
                                       std::size_t from) {
  const std::string marker = "\r\n" + std::string(dashBoundary);
  for (std::size_t at = from;; ++at) {
    std::size_t start = 0;
    std::size_t after = 0;
    if (at == 0 && body.starts_with(dashBoundary)) {
      after = dashBoundary.size();
    } else {
      start = body.find(marker, at);
      if (start == std::string_view::npos) return std::nullopt;
      after = start + marker.size();
    }
    std::string_view rest = body.substr(after);
    if (rest.starts_with("--")) return Delimiter{start, body.size(), true};
    std::size_t padding = 0;
    while (padding < rest.size() && IsSpaceOrTab(rest[padding])) ++padding;
    if (rest.substr(padding).starts_with("\r\n")) {
      return Delimiter{start, after + padding + 2, false};
    }
    at = start;  // the boundary only began a longer line: look further on
  }
}

struct MultipartPart {
  std::string name;
  std::string_view content;             // a view into the body: a file's may be large
  std::optional<std::string> fileName;  // set for a file part
};

Result<MultipartPart> ParsePart(std::string_view part) {
  const std::size_t headersEnd = part.find("\r\n\r\n");
  if (part.starts_with("\r\n") || headersEnd == std::string_view::npos) {
    return Malformed("a part without headers");
  }
  std::optional<std::string_view> disposition;
  std::string_view headers = part.substr(0, headersEnd);
  while (!headers.empty()) {
    std::size_t end = headers.find("\r\n");
    std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        EqualsNoCase(TrimSpaces(line.substr(0, colon)), "Content-Disposition")) {
      disposition = line.substr(colon + 1);
    }
  }
  std::optional<std::string> name;
  if (disposition && EqualsNoCase(MainValue(*disposition), "form-data")) {
    name = HeaderParameter(*disposition, "name");
  }
  if (!name) return Malformed("a part without a form-data name");
  return MultipartPart{std::move(*name), part.substr(headersEnd + 4),
                       HeaderParameter(*disposition, "filename")};
}

// An empty part is an empty value, as "name=" is in a URL-encoded body.
std::optional<std::string> FormValue(std::string_view content) {
  if (content.empty()) return std::nullopt;
  std::string text(content);
  CutAtNul(text);
  return text;
}

bool NamedIn(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](const std::string& n) { return EqualsNoCase(n, name); });
}

// The parts of a body in order, before values are joined.
Result<std::vector<MultipartPart>> SplitMultipart(std::string_view contentType,
                                                  std::string_view body) {
  std::optional<std::string> boundary = HeaderParameter(contentType, "boundary");
  if (!boundary || boundary->empty() || boundary->size() > kMaxBoundaryLength ||
      boundary->find_first_of("\r\n") != std::string::npos) {
    return Malformed("no usable boundary in CONTENT_TYPE");
  }
  const std::string dashBoundary = "--" + *boundary;
  std::optional<Delimiter> delimiter = NextDelimiter(body, dashBoundary, 0);
  if (!delimiter) return Malformed("no delimiter line");
  std::vector<MultipartPart> parts;
  while (!delimiter->closing) {
    const std::size_t start = delimiter->next;
    delimiter = NextDelimiter(body, dashBoundary, start);
    if (!delimiter) return Malformed("no closing delimiter");
    Result<MultipartPart> part = ParsePart(body.substr(start, delimiter->start - start));
    if (!part) return part.failure();
    parts.push_back(std::move(*part));
  }
  return parts;
}

}  // namespace

bool IsMultipartFormData(std::string_view contentType) {
  return EqualsNoCase(MainValue(contentType), "multipart/form-data");
}

std::optional<std::string> HeaderParameter(std::string_view value, std::string_view name) {
  std::size_t at = value.find(';');
  while (at != std::string_view::npos) {
    ++at;
    std::size_t equals = value.find_first_of("=;", at);
    if (equals == std::string_view::npos) return std::nullopt;
    if (value[equals] == ';') {  // a parameter without a value
      at = equals;
      continue;
    }
    std::string_view key = TrimSpaces(value.substr(at, equals - at));
    std::size_t start = equals + 1;
    while (start < value.size() && IsSpaceOrTab(value[start])) ++start;
    std::string_view text;
    if (start < value.size() && value[start] == '"') {
      std::size_t close = value.find('"', start + 1);
      if (close == std::string_view::npos) return std::nullopt;
      text = value.substr(start + 1, close - start - 1);
      at = value.find(';', close);
    } else {
      at = value.find(';', start);
      text = TrimSpaces(value.substr(start, at == std::string_view::npos ? at : at - start));
    }
    if (EqualsNoCase(key, name)) return std::string(text);
  }
  return std::nullopt;
}

Result<MultipartForm> ParseMultipartForm(std::string_view contentType, std::string_view body,
                                         const std::vector<std::string>& fileFields) {
  Result<std::vector<MultipartPart>> parts = SplitMultipart(contentType, body);
  if (!parts) return parts.failure();
  MultipartForm form;
  std::vector<std::string> filled;  // the file fields that have their file
  for (MultipartPart& part : *parts) {
    std::optional<std::string> value;
    if (!part.fileName) {
      value = FormValue(part.content);
    } else {
      // The file's name stands as the value. An empty file input sends
      // neither a name nor a file; for a file field an empty file is none.
      value = FormValue(*part.fileName);
      const bool fileField = NamedIn(fileFields, part.name);
      if (fileField && !part.content.empty() && !NamedIn(filled, part.name)) {
        filled.push_back(part.name);
        form.files.push_back({part.name, *part.fileName, part.content});
      } else if (fileField ? !part.content.empty() : value || !part.content.empty()) {
        if (form.dropped.count++ == 0) form.dropped.firstField = part.name;
      }
    }
    AppendFormValue(form.pairs, part.name, std::move(value));
  }
  return form;
}

}  // namespace veltrano
