#include "validate/pages.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "expand/placeholders.hpp"
#include "response/response.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kErrorMarker = "$err$";
constexpr std::string_view kItemTag = "<li>";

// The error page before expansion, held to the same size as an expanded text.
class ErrorPageText {
 public:
  void Append(std::string_view first, std::string_view second = {}) {
    if (text_.size() + first.size() + second.size() > kMaxExpandedLength) {
      ReportFatal("Mail send error",
                  "Maximum size reached on &lt;errTemplate&gt;.  Please trim it down");
    }
    text_ += first;
    text_ += second;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

std::string BuildErrorPage(const RequestContext& ctx, std::string_view file) {
  ErrorPageText page;
  std::optional<std::size_t> marker = FindNoCase(file, kErrorMarker);
  if (!marker) return page.text();
  page.Append(file.substr(0, *marker));
  for (const FormField& field : ctx.fields) {
    // Template parsing gives every field that can fail the text it needs;
    // a missing one would only leave an empty item.
    if (field.required && field.isMissing) page.Append(kItemTag, field.requiredErr.value_or(""));
    if (field.isInvalid) page.Append(kItemTag, field.typeErr.value_or(""));
  }
  page.Append(file.substr(*marker + kErrorMarker.size()));
  return page.text();
}

}  // namespace

void ShowErrorPage(RequestContext& ctx) {
  std::optional<std::string> file = LoadTextFile(ctx, ctx.errorPageFile);
  if (!file) {
    ReportFatal("Load Failure",
                "Failed to load or locate the file specified in &lt;errTemplateFile&gt;");
  }
  std::string page = BuildErrorPage(ctx, *file);
  WritePage(ctx.system.output, ExpandPlaceholders(ctx, page, Escaping::kHtml));
  EndRequest();
}

void ShowSuccessPage(RequestContext& ctx) {
  std::optional<std::string> file;
  if (ctx.successPageFile) file = LoadTextFile(ctx, *ctx.successPageFile);
  if (!file) {
    ReportFatal("Load Failure",
                "Failed to load or locate the file specified in &lt;SucceedMsgFile&gt;");
  }
  WritePage(ctx.system.output, ExpandPlaceholders(ctx, *file, Escaping::kHtml));
}

}  // namespace veltrano
