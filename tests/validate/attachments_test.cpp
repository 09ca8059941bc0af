#include "validate/attachments.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(AttachAcceptsTest, ExtensionThenSignature) {
  const std::vector<std::string> office = {"pdf",  "docx", "png", "jpg",
                                           "jpeg", "gif",  "txt", "zip"};
  const struct {
    const char* name;
    std::string file;
    std::string bytes;
    bool accepted;
  } cases[] = {
      {"pdf", "cv.pdf", "%PDF-1.4\n", true},
      {"pdf_any_case", "CV.Pdf", "%PDF-", true},
      {"pdf_disguised_executable", "cv.pdf",
       "\x7f"
       "ELF\x02\x01",
       false},
      {"pdf_windows_executable", "cv.pdf", "MZ\x90", false},
      {"pdf_too_short", "cv.pdf", "%PDF", false},
      {"docx_zip", "cv.docx", std::string("PK\x03\x04\x14\0", 6), true},
      {"docx_not_zip", "cv.docx", "<html>", false},
      {"png", "a.png", "\x89PNG\r\n\x1a\n....", true},
      {"png_lf_mangled", "a.png", "\x89PNG\n\x1a\n....", false},
      {"jpg", "a.jpg", "\xff\xd8\xff\xe0", true},
      {"jpeg", "a.jpeg", "\xff\xd8\xff\xe1", true},
      {"gif89", "a.gif", "GIF89a", true},
      {"gif87", "a.gif", "GIF87a", true},
      {"gif_other", "a.gif", "GIF88a", false},
      {"zip", "a.zip", "PK\x03\x04", true},
      {"txt_by_name", "notes.txt",
       "\x7f"
       "ELF",
       true},
      {"unlisted", "cv.exe", "MZ", false},
      {"unlisted_signature_type", "cv.odt", "PK\x03\x04", false},
      {"no_dot", "pdf", "%PDF-", false},
      {"double_extension_last_counts", "cv.pdf.exe", "%PDF-", false},
      {"last_extension_listed", "cv.exe.pdf", "%PDF-", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AttachAccepts(office, c.file, c.bytes), c.accepted) << c.name;
  }
}

}  // namespace
}  // namespace veltrano
