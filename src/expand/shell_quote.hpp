// Quoting of replacements that go into the administrator's EXECUTE command
// line, which /bin/sh parses. The literal text is the administrator's and is
// never changed; each replacement (a visitor's value, an environment value)
// is quoted according to where it stands in that text, so that it always
// reaches the command as literal characters:
//   outside quotes        'value'        (each ' written as '\'')
//   inside "..."          a backslash before $ ` " and backslash
//   inside '...'          each ' written as '\''
#pragma once

#include <string>
#include <string_view>

namespace veltrano {

class ShellQuoteState {
 public:
  // Advances over literal command text written by the administrator.
  void Literal(std::string_view text);
  // `replacement` as it must be inserted at the current position.
  std::string Quote(std::string_view replacement) const;

 private:
  enum class Context { kUnquoted, kSingle, kDouble };
  Context context_ = Context::kUnquoted;
  bool escaped_ = false;  // the literal text ended with an unquoted or "..." backslash
};

}  // namespace veltrano
