// The check an ATTACH field makes of its file (untrusted visitor bytes).
//
// The file's name, cleaned (text/file_names.hpp), must end in "." and one
// of the field's extensions, letters compared without regard to case. For
// the types that have a signature the file's first bytes must carry it too,
// so that a program renamed cv.pdf is no PDF:
//   pdf                          %PDF-
//   png                          \x89 P N G CR LF 0x1A LF
//   jpg, jpeg                    FF D8 FF
//   gif                          GIF87a or GIF89a
//   docx, xlsx, odt, ods, zip    PK 03 04 (a zip archive)
// Other extensions (txt, csv, doc, xls, ...) are taken by their name alone.
// Only forms with files come here: the definition is cold, as
// mail/attachments.hpp says.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

bool AttachAccepts(const std::vector<std::string>& extensions, std::string_view name,
                   std::string_view bytes);

}  // namespace veltrano
