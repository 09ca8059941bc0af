// Records a confined child sends its parent (accounts.hpp): each one kind
// byte, its length as four bytes (most significant first) and that many
// bytes of text. Lengths frame the records, so no byte of a text, a line end
// or a zero among them, can end one early or forge another. The parent
// reads them as data it does not trust: a record longer than
// kMaxRecordLength, or one cut off, is no record.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano::platform {

// A record is one line for a person to read; a longer text is cut to this.
inline constexpr std::size_t kMaxRecordLength = 4096;

struct Record {
  char kind = 0;
  std::string text;
};

// Writes one record to `fd`, its text cut to kMaxRecordLength; false when
// the write fails.
bool WriteRecord(int fd, char kind, std::string_view text);

struct RecordStream {
  std::vector<Record> records;
  bool whole = true;  // false: the bytes after the last record hold none
};

// The records of `bytes` in order, up to the first one that is longer than
// the limit or cut off.
RecordStream ParseRecords(std::string_view bytes);

}  // namespace veltrano::platform
