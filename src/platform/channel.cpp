#include "platform/channel.hpp"

#include "platform/fd.hpp"

namespace veltrano::platform {

namespace {

constexpr std::size_t kHeaderLength = 5;  // the kind and four bytes of length

}  // namespace

bool WriteRecord(int fd, char kind, std::string_view text) {
  text = text.substr(0, kMaxRecordLength);
  std::string record(kHeaderLength, '\0');
  record[0] = kind;
  for (std::size_t i = 0; i < 4; ++i) {
    record[4 - i] = static_cast<char>((text.size() >> (8 * i)) & 0xFF);
  }
  record += text;
  return WriteAll(fd, record);
}

RecordStream ParseRecords(std::string_view bytes) {
  RecordStream stream;
  while (!bytes.empty()) {
    stream.whole = false;
    if (bytes.size() < kHeaderLength) return stream;
    std::size_t length = 0;
    for (std::size_t i = 1; i < kHeaderLength; ++i) {
      length = length << 8 | static_cast<unsigned char>(bytes[i]);
    }
    if (length > kMaxRecordLength || bytes.size() - kHeaderLength < length) return stream;
    stream.records.push_back({bytes[0], std::string(bytes.substr(kHeaderLength, length))});
    bytes.remove_prefix(kHeaderLength + length);
    stream.whole = true;
  }
  return stream;
}

}  // namespace veltrano::platform
