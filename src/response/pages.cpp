#include "response/pages.hpp"

#include <optional>

#include "expand/escapers.hpp"
#include "platform/files.hpp"
#include "response/catalogue.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kServerTestWord = "microsoft";
constexpr std::string_view kItemTag = "<li>";

void WritePage(platform::Output& output, const platform::Environment& env, const PageText& page) {
  std::optional<std::string> server = env.Get("SERVER_SOFTWARE");
  bool microsoft = server && FindNoCase(*server, kServerTestWord).has_value();
  // IIS takes a full status line; other servers read a Status header, and
  // need none for 200.
  std::string text;
  if (microsoft) {
    text = "HTTP/1.0 ";
    text += page.status.empty() ? "200 OK" : page.status;
    text += "\nContent-type: text/html\n\n\n";
  } else {
    if (!page.status.empty()) {
      text = "Status: ";
      text += page.status;
      text += "\n";
    }
    text += "Content-type: text/html\n\n";
  }
  text += "<HTML>\n";
  if (page.title) text += "<TITLE>" + *page.title + "</TITLE>";
  text += page.message;
  output.Write(text);
}

}  // namespace

void WriteFatalPage(platform::Output& output, const platform::Environment& env,
                    const Failure& failure) {
  PageText page = PageFor(failure);
  // Started by hand: the console gets the message alone, no header, no HTML.
  if (failure.kind == FailureKind::kNoCgiEnvironment) {
    output.Write(page.message);
    return;
  }
  WritePage(output, env, page);
}

void WriteDebugPage(platform::Output& output, const platform::Environment& env,
                    const Transcript& transcript) {
  WritePage(output, env, {"rfc821 mail transaction process", TranscriptHtml(transcript)});
}

Result<std::string> LoadPageFile(const std::string& path, FailureKind unreadable) {
  std::string error;
  std::optional<std::string> text = platform::ReadTextFile(path, &error, kMaxPageFileSize);
  if (!text) return Fail(unreadable, {}, path + ": " + error);
  return std::move(*text);
}

Result<PageFiles> LoadPages(const Template& t, const PathAliases& aliases) {
  auto load = [&](const std::string& name, FailureKind unreadable) -> Result<std::string> {
    Result<std::string> path = aliases.Resolve(name, t.path);
    if (!path) return path.failure();
    return LoadPageFile(*path, unreadable);
  };
  if (t.successPageMissing) return *t.successPageMissing;
  Result<std::string> errorPage = load(t.errorPageFile, FailureKind::kErrorPageUnreadable);
  if (!errorPage) return errorPage.failure();
  Result<std::string> successPage = load(*t.successPageFile, FailureKind::kSuccessPageUnreadable);
  if (!successPage) return successPage.failure();
  return PageFiles{std::move(*errorPage), std::move(*successPage)};
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
    for (std::size_t i = 0; fits && i < fields.size(); ++i) {
      // Template parsing gives every field that can fail the text it needs.
      if (fields[i].required && checks[i].isMissing) {
        fits = append(kItemTag, fields[i].requiredErr.value_or(""));
      }
      if (fits && checks[i].isInvalid) fits = append(kItemTag, fields[i].typeErr.value_or(""));
      if (fits && checks[i].isTooLong) {
        fits = append(kItemTag, fields[i].maxLengthErr.value_or(""));
      }
      if (fits && checks[i].isBadFile) fits = append(kItemTag, fields[i].attachErr.value_or(""));
    }
    fits = fits && append(file.substr(*marker + kErrorMarker.size()));
    if (!fits) return Fail(FailureKind::kErrorPageTooLarge);
  }
  HtmlPage escaper;
  return ExpandPlaceholders(page, values, escaper);
}

Result<std::string> SuccessPage(std::string_view file, const PlaceholderValues& values) {
  HtmlPage escaper;
  return ExpandPlaceholders(file, values, escaper);
}

}  // namespace veltrano
