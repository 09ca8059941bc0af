#include "template/sections.hpp"

#include "response/response.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

[[noreturn]] void ReportTagMissing(std::string_view tag) {
  // The page names the tag without its angle brackets.
  if (tag.starts_with('<')) tag.remove_prefix(1);
  if (tag.ends_with('>')) tag.remove_suffix(1);
  ReportFatal("Tag missing",
              "&lt;" + std::string(tag) + "&gt; is missing, please recheck your template file");
}

std::optional<std::string> Trimmed(std::optional<std::string> text) {
  Trim(text);
  return text;
}

}  // namespace

std::optional<std::string> ExtractSection(const RequestContext& ctx, std::string_view openTag,
                                          std::string_view closeTag, bool required) {
  std::string_view text = ctx.templateText;
  std::optional<std::size_t> open = FindNoCase(text, openTag);
  if (!open) {
    if (required) ReportTagMissing(openTag);
    return std::nullopt;
  }
  std::size_t start = *open + openTag.size();
  std::optional<std::size_t> close = FindNoCase(text, closeTag);
  // A closing tag quoted before the section (or inside its opening tag)
  // would give no text; the section's own closing tag follows the opening.
  if (close && *close < start) {
    close = FindNoCase(text.substr(start), closeTag);
    if (close) *close += start;
  }
  if (!close) {
    if (required) ReportTagMissing(closeTag);
    return std::nullopt;
  }
  return std::string(text.substr(start, *close - start));
}

void ReadSections(RequestContext& ctx) {
  ctx.smtpServer = ExtractSection(ctx, "<SMTPSERVER>", "</SMTPSERVER>", false);
  if (ctx.smtpServer) {
    ctx.sender = ExtractSection(ctx, "<SENDER>", "</SENDER>", true);
    ctx.subject = ExtractSection(ctx, "<SUBJECT>", "</SUBJECT>", true);
    ctx.messageBody = ExtractSection(ctx, "<MSGBODY>", "</MSGBODY>", true);
    ctx.mailHeader = Trimmed(ExtractSection(ctx, "<MAILHDR>", "</MAILHDR>", false));
    ctx.responseMailHeader = Trimmed(ExtractSection(ctx, "<RMAILHDR>", "</RMAILHDR>", false));
  }
  ctx.errorPageFile = *ExtractSection(ctx, "<ERRMSGFILE>", "</ERRMSGFILE>", true);
  ctx.responseSubject = ExtractSection(ctx, "<RSUBJECT>", "</RSUBJECT>", false);
  ctx.responseBody = ExtractSection(ctx, "<RMSGBODY>", "</RMSGBODY>", false);
  ctx.executeCommand = ExtractSection(ctx, "<EXECUTE>", "</EXECUTE>", false);
  ctx.addressFile = Trimmed(ExtractSection(ctx, "<ADRFILE>", "</ADRFILE>", false));
  ctx.appendDataFile = Trimmed(ExtractSection(ctx, "<DFILE APPEND>", "</DFILE>", false));
  if (!ctx.appendDataFile) {
    ctx.truncateDataFile = Trimmed(ExtractSection(ctx, "<DFILE TRUNCATE>", "</DFILE>", false));
  }
  if (ctx.appendDataFile || ctx.truncateDataFile) {
    ctx.dataFileFormat = ExtractSection(ctx, "<DFILEFORMAT>", "</DFILEFORMAT>", false);
  }
  ctx.fieldSection = *ExtractSection(ctx, "<FORMDATA>", "</FORMDATA>", true);
}

}  // namespace veltrano
