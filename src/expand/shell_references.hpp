// Placeholders in the administrator's EXECUTE command line, which /bin/sh
// parses.
//
// No byte of a replacement ever becomes part of the command text. Each
// replacement is kept aside as the value of VELTRANO_VALUE_1,
// VELTRANO_VALUE_2, ... (in order of appearance), which the command runs
// with in its environment, and the text gets a reference to it, written for
// where it stands in the literal text so that the command sees the value as
// one word, byte for byte:
//   outside quotes, in a comment       "${VELTRANO_VALUE_n}"
//   inside "...", a here-document body ${VELTRANO_VALUE_n}
//   inside '...'                       '"${VELTRANO_VALUE_n}"'
//   inside `...`                       as outside quotes, for the inner command
// A backslash that ends the literal text would escape the reference's first
// character: outside quotes and in a here-document body it becomes a line
// continuation (a newline is put after it, and the shell removes both),
// inside "..." a literal backslash (a second backslash is put after it).
//
// The tracking of the literal text (quotes, comments, line continuations,
// here-documents with their delimiters, backquoted commands) follows dash,
// Debian's /bin/sh, and only decides the wrapping. The text between
// backquotes is what the shell parses after it has removed the backslashes
// of \\, \` and \$ (and of \" inside "..."), so a reference there is written
// for that inner text and escaped for each pair of backquotes around it.
// The shell never re-reads the result of an expansion, so a misjudged place
// can give a wrong text, never run a visitor's one. A "$" never stands in the
// literal text (it always separates placeholders), so no $(...), ${...} or
// $((...)) can surround a reference.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expand/placeholders.hpp"
#include "platform/process.hpp"

namespace veltrano {

class ShellReferences final : public Escaper {
 public:
  ShellReferences();
  ~ShellReferences() override;

  void Literal(std::string_view text, std::string& out) override;
  // Appends the reference; counts the value's own length toward the limit.
  std::size_t Replacement(std::string_view value, std::string& out) override;

  // The values referred to, as the command's environment needs them:
  // ("VELTRANO_VALUE_1", first value), ...
  const platform::ExtraEnvironment& environment() const { return environment_; }

 private:
  struct Tracker;
  std::unique_ptr<Tracker> tracker_;
  platform::ExtraEnvironment environment_;
};

}  // namespace veltrano
