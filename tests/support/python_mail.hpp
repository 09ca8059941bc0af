// The mails of an SMTP conversation as a real mail reader sees them: Python's
// email package (default policy) parses each mail that followed a DATA
// command (tests/support/read_mail.py). A test hands it the bytes a client
// sent, from the in-memory peer or the scripted server.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrano::testing {

// A part of a multipart mail that holds no parts.
struct ReadPart {
  std::string contentType;
  std::string fileName;  // as decoded (UTF-8); empty without one
  std::string body;      // its bytes, the transfer encoding undone
};

struct ReadMail {
  std::vector<std::pair<std::string, std::string>> headers;  // in order, values decoded (UTF-8)
  std::string body;             // the body's bytes, its transfer encoding undone; empty: multipart
  std::vector<ReadPart> parts;  // of a multipart mail, depth first
  std::string charset;          // empty without a charset parameter
  std::size_t longest = 0;      // longest line as sent, without CR LF
  bool sevenBit = false;        // every byte as sent below 0x80
  int defects = 0;              // what the parser found wrong

  // The value of the first header of that name (ASCII case aside), or none.
  std::optional<std::string> Header(std::string_view name) const;
};

std::vector<ReadMail> ReadMailsWithPython(const std::string& conversation);

// `latin1` (ISO-8859-1 bytes) as UTF-8, the form decoded header values have.
std::string Latin1ToUtf8(std::string_view latin1);

}  // namespace veltrano::testing
