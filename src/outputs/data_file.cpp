#include "outputs/data_file.hpp"

#include "platform/record_file.hpp"
#include "text/text.hpp"

namespace veltrano {

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
