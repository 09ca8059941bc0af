// What veltrano-check found in one template: errors (the template fails
// some or all submissions) and warnings (it works, but is open to abuse or
// holds a likely mistake), each one line of text that names the section,
// field, file or address concerned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano::check {

struct Finding {
  bool error = false;
  std::string text;
};

class Findings {
 public:
  void Error(std::string text) { list_.push_back({true, std::move(text)}); }
  void Warning(std::string text) { list_.push_back({false, std::move(text)}); }
  const std::vector<Finding>& list() const { return list_; }

 private:
  std::vector<Finding> list_;
};

// At most `limit` bytes of `text`, ended with "..." when cut: a template's
// text quoted in a line.
std::string Shown(std::string_view text, std::size_t limit = 200);

// `line` made printable: every byte outside printable ASCII, and the
// backslash, as \xNN, so that no template text can break a line or send a
// terminal sequence.
std::string Printable(std::string_view line);

}  // namespace veltrano::check
