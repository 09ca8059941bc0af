#include "mail/attachments.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(Base64LinesTest, EncodesInLinesOf76) {
  const std::string line(76, 'A');  // 57 zero bytes
  const struct {
    const char* name;
    std::string bytes;
    std::string want;
  } cases[] = {
      {"empty", "", ""},
      {"one", "f", "Zg==\n"},
      {"two", "fo", "Zm8=\n"},
      {"three", "foo", "Zm9v\n"},
      {"six", "foobar", "Zm9vYmFy\n"},
      {"high_and_nul", std::string("\xff\0\xfe", 3), "/wD+\n"},
      {"one_full_line", std::string(57, '\0'), line + "\n"},
      {"one_more_byte", std::string(58, '\0'), line + "\nAA==\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Lines(c.bytes), c.want) << c.name;
  }
}

TEST(WireSizeOfFileTest, IsTheEncodingWithCrLf) {
  for (std::size_t size : {0, 1, 2, 3, 56, 57, 58, 114, 1000}) {
    EXPECT_EQ(WireSizeOfFile(size), Base64Lines(std::string(size, 'x')).size() + (size + 56) / 57)
        << size;
  }
  // MAXUPLOAD's default fits Postfix's default message_size_limit.
  EXPECT_EQ(WireSizeOfFile(5242880), 7174470u);
}

// What a visitor's file name becomes in the header: never raw.
TEST(AttachmentHeaderTest, QuotesOrEncodesTheName) {
  const std::string head = "Content-Transfer-Encoding: base64\nContent-Disposition: attachment;";
  const struct {
    const char* name;
    std::string file;
    std::string want;
  } cases[] = {
      {"pdf", "cv.pdf", "Content-Type: application/pdf\n" + head + " filename=\"cv.pdf\"\n"},
      {"quotes_backslash_semicolon", "a\"b\\c;d.PNG",
       "Content-Type: image/png\n" + head + " filename=\"a\\\"b\\\\c;d.PNG\"\n"},
      {"utf8", "J\xc3\xbcrgen CV.docx",
       "Content-Type: application/"
       "vnd.openxmlformats-officedocument.wordprocessingml.document\n" +
           head + " filename*=utf-8''J%C3%BCrgen%20CV.docx\n"},
      {"encoded_word_look_alike", "=?utf-8?q?x?=.txt",
       "Content-Type: text/plain\n" + head + "\n filename*=utf-8''%3D%3Futf-8%3Fq%3Fx%3F%3D.txt\n"},
      {"unlisted_type", "a.bin",
       "Content-Type: application/octet-stream\n" + head + " filename=\"a.bin\"\n"},
      {"long_name_own_line", std::string(60, 'a') + ".pdf",
       "Content-Type: application/pdf\n" + head + "\n filename=\"" + std::string(60, 'a') +
           ".pdf\"\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AttachmentHeader(c.file), c.want) << c.name;
  }
}

TEST(MediaTypeOfTest, ByExtensionFromAFixedTable) {
  EXPECT_EQ(MediaTypeOf("a.JPEG"), "image/jpeg");
  EXPECT_EQ(MediaTypeOf("a.jpg"), "image/jpeg");
  EXPECT_EQ(MediaTypeOf("a.gif"), "image/gif");
  EXPECT_EQ(MediaTypeOf("a.csv"), "text/csv");
  EXPECT_EQ(MediaTypeOf("a.ods"), "application/vnd.oasis.opendocument.spreadsheet");
  EXPECT_EQ(MediaTypeOf("a.exe"), "application/octet-stream");
  EXPECT_EQ(MediaTypeOf("pdf"), "application/octet-stream");
}

}  // namespace
}  // namespace veltrano
