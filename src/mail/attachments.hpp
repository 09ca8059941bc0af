// The files of a submission as parts of a mail (RFC 2045, 2046, 2183,
// 2231): each encoded once, in base64, and shared by every mail that
// carries it.
//
// A part's Content-Type comes from a fixed table by the name's extension
// (pdf, png, jpg/jpeg, gif, txt, csv, doc/docx, xls/xlsx, odt/ods, zip),
// application/octet-stream for any other. Its Content-Disposition is
// "attachment" with the cleaned name (text/file_names.hpp): a quoted
// string, '"' and '\' escaped, when the name is ASCII and holds no "=?"
// (which readers would decode as an encoded word); otherwise the RFC 2231
// form filename*=utf-8''... with every byte but letters, digits and
// !#$&+-.^_`|~ as %XX. A name over the recommended 78 characters of a line
// goes on a line of its own; a cleaned name of 255 bytes keeps that line
// below the 998 that SMTP carries. A visitor's file name reaches a header
// only this way.
//
// Only forms with files come here. The definitions are marked cold, so that
// the linker keeps them apart from the code every request runs: a request
// without files maps no more of the program for them (bench/README.md).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace veltrano {

struct Attachment {
  std::string fileName;  // cleaned
  // The file in base64 (Base64Lines), shared by the mails that carry it.
  std::shared_ptr<const std::string> base64;
};

// `bytes` in base64, in lines of 76 characters (RFC 2045 6.8), each ending
// in LF; empty for no bytes.
std::string Base64Lines(std::string_view bytes);

// What a file of `size` bytes takes in a mail on the wire: Base64Lines with
// CR LF line ends (about 1.37 times the file), e.g. to hold MAXUPLOAD
// against a mail server's size limit.
std::size_t WireSizeOfFile(std::size_t size);

// The header lines of the file's body part, each ending in LF:
// Content-Type, Content-Transfer-Encoding: base64, Content-Disposition.
std::string AttachmentHeader(std::string_view fileName);

// The media type for a file name, by its extension.
std::string_view MediaTypeOf(std::string_view fileName);

}  // namespace veltrano
