// How replacements are written where the expanded text is a page or a data
// record. Each escaper watches the literal text to know where a replacement
// stands; the literal text itself passes unchanged.
//
// HtmlPage (the success and error pages): every replacement is HTML-escaped
// (& < > " '). In the page's header block, the lines before its first empty
// line (the CGI header lines the web server reads), every run of CR and LF in
// a replacement also becomes one space, so no value can add a header line or
// end the block. A line holding only a CR counts as empty, as web servers
// read it. The program's own markup goes into the body as it is, and into
// the header block with its line breaks collapsed the same way.
//
// DataRecord (the data file): every run of CR and LF in a replacement
// becomes one space, so one submission is always one line; a replacement
// that stands inside a double-quoted field (after an odd number of literal
// '"' on its line of the format) has each '"' doubled, as CSV readers
// expect (RFC 4180). With the spreadsheet guard, a value that a spreadsheet
// would run as a formula (starting with = + - @, a tab or a CR) gets a
// leading "'".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "expand/placeholders.hpp"

namespace veltrano {

class HtmlPage final : public Escaper {
 public:
  void Literal(std::string_view text, std::string& out) override;
  std::size_t Replacement(std::string_view value, std::string& out) override;
  std::size_t Markup(std::string_view markup, std::string& out) override;

 private:
  bool inHeader_ = true;   // no empty line yet
  bool lineEmpty_ = true;  // nothing but CR on the current line so far
};

class DataRecord final : public Escaper {
 public:
  explicit DataRecord(bool spreadsheetGuard = false) : guard_(spreadsheetGuard) {}
  void Literal(std::string_view text, std::string& out) override;
  std::size_t Replacement(std::string_view value, std::string& out) override;

 private:
  bool guard_;
  bool inQuotes_ = false;
};

}  // namespace veltrano
