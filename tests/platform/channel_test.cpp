#include "platform/channel.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/fd.hpp"

namespace veltrano::platform {
namespace {

std::string Written(const std::vector<std::pair<char, std::string>>& records) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  UniqueFd in(fds[0]), out(fds[1]);
  for (const auto& [kind, text] : records) EXPECT_TRUE(WriteRecord(out.get(), kind, text));
  out.Reset();
  std::string bytes;
  char buf[65536];
  for (ssize_t n; (n = ::read(in.get(), buf, sizeof buf)) > 0;) bytes.append(buf, n);
  return bytes;
}

// Lengths frame the records: line ends and zero bytes stay inside their
// text, a text over the limit is cut when written, and whatever does not
// make a whole record is no record.
TEST(ChannelTest, RecordsComeBackWholeOrNotAtAll) {
  const std::string two = Written({{'E', std::string("line\nbreak\0zero", 15)}, {'W', ""}});
  const std::string longest = Written({{'E', std::string(kMaxRecordLength + 9, 'x')}});
  std::string overLimit = longest;
  overLimit[3] = 0x7F;  // a length far past the limit
  const struct {
    const char* name;
    std::string bytes;
    std::size_t records;
    bool whole;
  } cases[] = {
      {"none", "", 0, true},
      {"two", two, 2, true},
      {"cut_in_header", two.substr(0, 3), 0, false},
      {"cut_in_text", two.substr(0, two.size() - 1 - 5), 0, false},
      {"second_cut", two.substr(0, two.size() - 1), 1, false},
      {"longest", longest, 1, true},
      {"over_the_limit", overLimit, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordStream stream = ParseRecords(c.bytes);
    EXPECT_EQ(stream.records.size(), c.records);
    EXPECT_EQ(stream.whole, c.whole);
  }
  RecordStream stream = ParseRecords(two);
  EXPECT_EQ(stream.records[0].kind, 'E');
  EXPECT_EQ(stream.records[0].text, std::string("line\nbreak\0zero", 15));
  EXPECT_EQ(ParseRecords(longest).records[0].text.size(), kMaxRecordLength);
}

}  // namespace
}  // namespace veltrano::platform
