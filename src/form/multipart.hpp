// A form body sent as multipart/form-data (RFC 7578), as HTML forms with
// enctype="multipart/form-data" send it, read into the same pairs as a
// URL-encoded body.
//
// Each part names its field in its Content-Disposition header (form-data;
// name="..."); names are kept as sent, like URL-encoded names. A text part's
// value is its content byte for byte (CR LF inside it included), up to its
// first NUL byte; an empty content is no value. A file part (one with a
// filename parameter) has the file's name as its value. Its content is kept,
// as a view into the body, only when the part names one of the file fields
// the caller gives (letters compared without regard to case), is not empty,
// and is that field's first such file; every other file is dropped. The
// files dropped are counted and the field of the first is named (never a
// file's name, which is the visitor's text), for the caller to report once:
// a body may hold thousands of them. Values join as AppendFormValue
// (form_pairs.hpp) says. Part headers other than Content-Disposition are
// ignored; nothing is decoded.
//
// The framing is strict: a boundary parameter of 1 to 70 bytes, delimiter
// lines ending in CR LF, a blank line after each part's headers, and a
// closing delimiter. A body that breaks it (no usable boundary, no closing
// delimiter, a part without headers or without a form-data name) is the
// kMalformedMultipart failure, whose detail says which. A preamble before
// the first delimiter and an epilogue after the closing one are ignored.
// Everything here is untrusted visitor text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "form/form_pairs.hpp"
#include "model/result.hpp"

namespace veltrano {

// True when the media type of a CONTENT_TYPE value is multipart/form-data,
// letters compared without regard to case.
bool IsMultipartFormData(std::string_view contentType);

// The files a body sent that were dropped: none was mailed.
struct DroppedFiles {
  std::size_t count = 0;   // file parts that sent a file or a file name
  std::string firstField;  // the field of the first of them, as sent
};

// A file kept for a file field.
struct FilePart {
  std::string field;     // as sent
  std::string fileName;  // as sent
  std::string_view bytes;
};

struct MultipartForm {
  std::vector<FormPair> pairs;
  std::vector<FilePart> files;  // views into the body, in the order sent
  DroppedFiles dropped;
};

// The pairs of a multipart/form-data body; `contentType` carries its
// boundary, `fileFields` names the fields whose files are kept.
Result<MultipartForm> ParseMultipartForm(std::string_view contentType, std::string_view body,
                                         const std::vector<std::string>& fileFields = {});

}  // namespace veltrano
