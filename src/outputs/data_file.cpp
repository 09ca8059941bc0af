#include "outputs/data_file.hpp"

#include "expand/placeholders.hpp"
#include "platform/record_file.hpp"
#include "response/response.hpp"
#include "template/template_file.hpp"
#include "text/text.hpp"

namespace veltrano {

void WriteDataFile(RequestContext& ctx) {
  if (!ctx.dataFileFormat) {
    ReportFatal("Error writing to file", "A &lt;dfileformat&gt; was not specified.");
  }
  const bool append = ctx.appendDataFile.has_value();
  if (!append && !ctx.truncateDataFile) return;  // no data file named
  const std::string& name = append ? *ctx.appendDataFile : *ctx.truncateDataFile;

  std::optional<platform::RecordFile> file = platform::RecordFile::Open(
      ResolveTemplatePath(ctx, name),
      append ? platform::RecordFile::Mode::kAppend : platform::RecordFile::Mode::kTruncate);
  if (!file) return;

  std::string record = ExpandPlaceholders(ctx, *ctx.dataFileFormat, Escaping::kNone);
  Trim(record);
  record += '\n';
  file->Write(record);
}

}  // namespace veltrano
