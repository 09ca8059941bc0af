// Quoting of replacements that go into the administrator's EXECUTE command
// line, which /bin/sh parses. The literal text is the administrator's and is
// never changed; each replacement (a visitor's value, an environment value)
// is quoted according to where it stands in that text, so that it always
// reaches the command as literal characters and can never end a quote, start
// a command, or run anything:
//   outside quotes        'value'        (each ' written as '\'')
//   inside "..."          a backslash before $ ` " and backslash
//   inside '...'          the quote is closed, 'value' as outside, reopened
//   inside a # comment    the value without its line ends
// A backslash that ends the literal text would escape the replacement's
// first character: outside quotes it is joined with a newline (a line
// continuation, which the shell removes), inside "..." with a second
// backslash (one literal backslash, as it stands before an ordinary letter).
//
// Where the tracking cannot be sure of the shell's reading (inside `...`,
// after a here-document << or a literal $, which may open $(, ${ or $'), the
// replacement keeps only characters that mean nothing in any context:
// letters, digits, space and _ . , : @ % + = / -. NUL bytes are dropped
// everywhere: a command line is a C string.
#pragma once

#include <string>
#include <string_view>

namespace veltrano {

class ShellQuoteState {
 public:
  // Advances over literal command text written by the administrator.
  void Literal(std::string_view text);
  // `replacement` as it must be inserted at the current position; the state
  // moves past it.
  std::string Quote(std::string_view replacement);

 private:
  enum class Context { kUnquoted, kSingle, kDouble, kComment };
  void Step(char c);
  void StepUnquoted(char c);

  Context context_ = Context::kUnquoted;
  bool escaped_ = false;    // an unquoted or "..." backslash awaits its character
  bool wordStart_ = true;   // a # here would start a comment
  bool lastLess_ = false;   // the previous character was an unquoted <
  bool backquote_ = false;  // inside `...` (the context outside it is kept)
  bool uncertain_ = false;  // from here on only inert characters are let through
};

}  // namespace veltrano
