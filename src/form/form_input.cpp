#include "form/form_input.hpp"

#include <memory>

#include "form/multipart.hpp"
#include "platform/text_mode.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  char upper = AsciiToUpper(c);
  return IsDigit(upper) ? upper - '0' : upper - 'A' + 10;
}

// The next name token of `buffer` from `at`: skip any "=", then take the text
// up to the next "=", leaving `at` just past it. None when the buffer ends
// first; the unfinished piece is then dropped.
std::optional<std::string_view> NextName(std::string_view buffer, std::size_t& at) {
  while (at < buffer.size() && buffer[at] == '=') ++at;
  std::size_t equals = buffer.find('=', at);
  if (equals == std::string_view::npos) {
    at = buffer.size();
    return std::nullopt;
  }
  std::string_view name = buffer.substr(at, equals - at);
  at = equals + 1;
  return name;
}

}  // namespace

bool IsHexDigit(char c) {
  char upper = AsciiToUpper(c);
  return IsDigit(upper) || (upper >= 'A' && upper <= 'F');
}

Result<std::string> UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) {
        return Fail(FailureKind::kInvalidEscape);
      }
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  CutAtNul(out);
  return out;
}

long long ParseContentLength(std::string_view text, std::size_t limit) {
  return LeadingInteger(text, static_cast<long long>(limit) + 1);
}

Result<FormInput> ReadForm(const platform::Environment& env, platform::Input& input,
                           Notices& notices, const FileRules& files) {
  std::optional<std::string> method = env.Get("REQUEST_METHOD");
  if (!method) return Fail(FailureKind::kNoCgiEnvironment);
  if (*method != "POST") return Fail(FailureKind::kNotPost, {}, "method " + *method);
  std::optional<std::string> lengthText = env.Get("CONTENT_LENGTH");
  if (!lengthText) return Fail(FailureKind::kNoContentLength);
  const std::size_t limit = kMaxBodyLength + (files.fields.empty() ? 0 : files.maxUpload);
  long long length = ParseContentLength(*lengthText, limit);
  if (length < 0)
    return Fail(FailureKind::kNegativeContentLength, {}, "CONTENT_LENGTH " + *lengthText);
  if (length > static_cast<long long>(limit)) {
    return Fail(FailureKind::kBodyTooLarge, {},
                "CONTENT_LENGTH " + *lengthText + ", over " + std::to_string(limit) + " bytes");
  }
  const std::size_t count = static_cast<std::size_t>(length);
  // The files kept of a multipart body are views into it, which they keep
  // alive.
  const auto body = std::make_shared<const std::string>(input.ReadBytes(count));
  // The client went away, or the time for reading ran out: what arrived is
  // not the form the visitor sent ("order 1" of "order 123").
  if (body->size() < count) {
    return Fail(FailureKind::kShortBody, {},
                std::to_string(body->size()) + " of the " + std::to_string(count) +
                    " bytes of CONTENT_LENGTH arrived");
  }
  const std::optional<std::string> type = env.Get("CONTENT_TYPE");
  // multipart/form-data is read in binary: a value keeps its CR LF pairs, and
  // the parts are framed by CR LF. Anything else is URL-encoded and read in
  // text mode: CR LF arrives as LF (the length counts both bytes) and 0x1A
  // ends the body.
  if (type && IsMultipartFormData(*type)) {
    Result<MultipartForm> form = ParseMultipartForm(*type, *body, files.fields);
    if (!form) return form.failure();
    // One line for all the files: the visitor decides how many there are.
    if (const DroppedFiles& dropped = form->dropped; dropped.count > 0) {
      std::string detail = "field " + dropped.firstField;
      if (dropped.count > 1) detail += ", and " + std::to_string(dropped.count - 1) + " more files";
      notices.Note(NoticeKind::kFileDropped, std::move(detail));
    }
    FormInput kept{std::move(form->pairs), {}};
    std::size_t total = 0;
    for (FilePart& file : form->files) {
      total += file.bytes.size();
      kept.files.push_back({std::move(file.field), std::move(file.fileName), {body, file.bytes}});
    }
    if (total > files.maxUpload) {
      return Fail(FailureKind::kBodyTooLarge, {},
                  std::to_string(kept.files.size()) + " files of " + std::to_string(total) +
                      " bytes, over MAXUPLOAD " + std::to_string(files.maxUpload));
    }
    return kept;
  }
  Result<std::vector<FormPair>> pairs = ParseFormData(platform::DecodeTextMode(*body));
  if (!pairs) return pairs.failure();
  return FormInput{std::move(*pairs)};
}

Result<std::vector<FormPair>> ParseFormData(std::string_view body) {
  std::vector<FormPair> pairs;
  // Every value ends at an "&", the last one at this appended one.
  const std::string buffer = std::string(body) + '&';
  std::size_t at = 0;
  while (std::optional<std::string_view> name = NextName(buffer, at)) {
    std::size_t amp = buffer.find('&', at);
    std::string_view raw = std::string_view(buffer).substr(at, amp - at);
    at = amp + 1;
    // "name=&" is an empty value; "x=%00" is a value that decodes to nothing.
    if (raw.empty()) {
      AppendFormValue(pairs, *name, std::nullopt);
      continue;
    }
    Result<std::string> decoded = UrlDecode(raw);
    if (!decoded) return decoded.failure();
    AppendFormValue(pairs, *name, std::move(*decoded));
  }
  return pairs;
}

std::optional<std::string> FormInput::LookupFormValue(std::string_view name) const {
  for (const FormPair& pair : pairs) {
    if (EqualsNoCase(pair.name, name)) return pair.value;
  }
  return std::nullopt;
}

}  // namespace veltrano
