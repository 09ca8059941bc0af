#include "outputs/data_file.hpp"

#include "expand/escapers.hpp"
#include "platform/record_file.hpp"
#include "text/text.hpp"

namespace veltrano {

Status StoreDataRecord(const DataFileSections& dataFile, bool spreadsheetGuard,
                       const PathAliases& aliases, std::string_view templatePath,
                       const PlaceholderValues& values, Notices& notices,
                       const platform::Deadline& budget) {
  if (!dataFile.format) return Fail(FailureKind::kNoDataFileFormat);
  Result<std::string> path = aliases.Resolve(dataFile.name, templatePath);
  if (!path) return path.failure();
  DataRecord escaper(spreadsheetGuard);
  Result<std::string> record = ExpandPlaceholders(*dataFile.format, values, escaper);
  if (!record) return record.failure();
  WriteDataFile(*path, dataFile.mode, std::move(*record), notices, budget);
  return {};
}

void WriteDataFile(const std::string& path, DataFileMode mode, std::string record, Notices& notices,
                   const platform::Deadline& budget) {
  Trim(record);
  record += '\n';
  std::optional<std::string> error =
      platform::StoreRecord(path,
                            mode == DataFileMode::kAppend ? platform::RecordMode::kAppend
                                                          : platform::RecordMode::kTruncate,
                            record, budget);
  if (error) notices.Note(NoticeKind::kDataFileNotWritten, path + ": " + *error);
}

}  // namespace veltrano
