#include "response/pages.hpp"

#include <optional>

#include "expand/escapers.hpp"
#include "platform/files.hpp"
#include "response/answers.hpp"
#include "response/catalogue.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kItemTag = "<li>";

// The page file `name` names, through the aliases.
Result<std::string> LoadNamedPage(const Template& t, const PathAliases& aliases,
                                  const std::string& name, FailureKind unreadable) {
  Result<std::string> path = aliases.Resolve(name, t.path);
  if (!path) return path.failure();
  return LoadPageFile(*path, unreadable);
}

}  // namespace

void WriteFatalPage(platform::Output& output, const platform::Environment& env,
                    const Failure& failure) {
  output.Write(FailureAnswer(PageStyle(env), failure));
}

void WriteDebugPage(platform::Output& output, const platform::Environment& env,
                    const Transcript& transcript) {
  output.Write(OwnPage(PageStyle(env), DebugPage(transcript)));
}

PageText DebugPage(const Transcript& transcript) {
  return {"rfc821 mail transaction process", TranscriptHtml(transcript)};
}

Result<std::string> LoadPageFile(const std::string& path, FailureKind unreadable) {
  std::string error;
  std::optional<std::string> text = platform::ReadTextFile(path, &error, kMaxPageFileSize);
  if (!text) return Fail(unreadable, {}, path + ": " + error);
  return std::move(*text);
}

Result<std::optional<std::string>> LoadFailurePage(const Template& t, const PathAliases& aliases) {
  if (!t.failurePageFile) return std::optional<std::string>();
  Result<std::string> page =
      LoadNamedPage(t, aliases, *t.failurePageFile, FailureKind::kFailurePageUnreadable);
  if (!page) return page.failure();
  return std::optional<std::string>(std::move(*page));
}

Result<PageFiles> LoadPages(const Template& t, const PathAliases& aliases) {
  if (t.successPageMissing) return *t.successPageMissing;
  Result<std::string> errorPage =
      LoadNamedPage(t, aliases, t.errorPageFile, FailureKind::kErrorPageUnreadable);
  if (!errorPage) return errorPage.failure();
  PageFiles pages{std::move(*errorPage), {}};
  // SUCCEEDURL answers success: the page is never shown.
  if (t.successUrl) return pages;
  Result<std::string> successPage =
      LoadNamedPage(t, aliases, *t.successPageFile, FailureKind::kSuccessPageUnreadable);
  if (!successPage) return successPage.failure();
  pages.successPage = std::move(*successPage);
  return pages;
}

std::vector<ErrorLine> ErrorLines(const std::vector<FieldDefinition>& fields,
                                  const std::vector<FieldCheck>& checks) {
  // Template parsing gives every field that can fail the text it needs.
  auto text = [](const std::optional<std::string>& t) { return t ? std::string_view(*t) : ""; };
  std::vector<ErrorLine> lines;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].required && checks[i].isMissing)
      lines.push_back({i, text(fields[i].requiredErr)});
    if (checks[i].isInvalid) lines.push_back({i, text(fields[i].typeErr)});
    if (checks[i].isTooLong) lines.push_back({i, text(fields[i].maxLengthErr)});
    if (checks[i].isBadFile) lines.push_back({i, text(fields[i].attachErr)});
  }
  return lines;
}

Result<std::string> ErrorPage(std::string_view file, const std::vector<FieldDefinition>& fields,
                              const std::vector<FieldCheck>& checks,
                              const PlaceholderValues& values) {
  std::string page;
  std::optional<std::size_t> marker = FindNoCase(file, kErrorMarker);
  if (marker) {
    auto append = [&page](std::string_view first, std::string_view second = {}) {
      if (page.size() + first.size() + second.size() > kMaxExpandedLength) return false;
      page += first;
      page += second;
      return true;
    };
    bool fits = append(file.substr(0, *marker));
    for (const ErrorLine& line : ErrorLines(fields, checks)) {
      fits = fits && append(kItemTag, line.text);
    }
    fits = fits && append(file.substr(*marker + kErrorMarker.size()));
    if (!fits) return Fail(FailureKind::kErrorPageTooLarge);
  }
  HtmlPage escaper;
  return ExpandPlaceholders(page, values, escaper);
}

[[gnu::cold]] Result<std::vector<FieldError>> FieldErrors(
    const std::vector<FieldDefinition>& fields, const std::vector<FieldCheck>& checks,
    const PlaceholderValues& values) {
  std::vector<FieldError> errors;
  PlainText escaper;
  for (const ErrorLine& line : ErrorLines(fields, checks)) {
    Result<std::string> message = ExpandPlaceholders(line.text, values, escaper);
    if (!message) return message.failure();
    errors.push_back({fields[line.field].name, std::move(*message)});
  }
  return errors;
}

Result<std::string> SuccessPage(std::string_view file, const PlaceholderValues& values) {
  HtmlPage escaper;
  return ExpandPlaceholders(file, values, escaper);
}

[[gnu::cold]] Result<std::string> FailurePage(std::string_view file, const PageText& page,
                                              const PlaceholderValues& values) {
  const std::string_view title = page.title ? std::string_view(*page.title) : "";
  const MarkupName own[] = {{kFailureMessageName, page.message}, {kFailureTitleName, title}};
  HtmlPage escaper;
  return ExpandPlaceholders(file, values, escaper, own);
}

}  // namespace veltrano
