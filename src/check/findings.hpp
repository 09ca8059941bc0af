// What veltrano-check found in one template: errors (the template fails
// some or all submissions), warnings (it works, but is open to abuse or
// holds a likely mistake), and, when the check itself failed part way, why
// the template could not be checked. Each is one line of text that names
// the section, field, file or address concerned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano::check {

struct Finding {
  // The letters are the kinds of the records that carry findings from the
  // checking process to the one that prints them.
  enum class Kind : char { kError = 'E', kWarning = 'W', kUnchecked = 'U' };
  Kind kind = Kind::kError;
  std::string text;
};

class Findings {
 public:
  void Error(std::string text) { Add(Finding::Kind::kError, std::move(text)); }
  void Warning(std::string text) { Add(Finding::Kind::kWarning, std::move(text)); }
  // The check ended early: "could not be checked: " and why.
  void Unchecked(std::string_view why) {
    Add(Finding::Kind::kUnchecked, "could not be checked: " + std::string(why));
  }
  void Add(Finding::Kind kind, std::string text) { list_.push_back({kind, std::move(text)}); }
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
