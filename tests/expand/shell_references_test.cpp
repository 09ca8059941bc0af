// Hostile values in every place a command text can hold them, run by the
// real /bin/sh: nothing of a value may run, and where the place hands the
// value to a command it must arrive whole, as one argument, byte for byte.
#include "expand/shell_references.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "outputs/external_program.hpp"
#include "support/cgi_runner.hpp"
#include "support/fake_system.hpp"

namespace veltrano {
namespace {

using testing::TempDir;

class RecordedNotices final : public Notices {
 public:
  void Note(NoticeKind, std::string detail) override { details.push_back(std::move(detail)); }
  std::vector<std::string> details;
};

// Each tries to create the file "pwned" in the command's directory.
const std::string kValues[] = {
    "x; touch pwned",
    "$(touch pwned)",
    "`touch pwned`",
    "'\"",
    "'; touch pwned; '",
    "\"; touch pwned; \"",
    "a\ntouch pwned\n",
    "x\ntouch pwned\n#x",
    "EOF\ntouch pwned\nEOF",
    "\\",
    "\\\ntouch pwned",
    "\\'; touch pwned #",
    "$HOME * ?",
    "",
    "-r root /etc",
    "--x ~ {a,b} !1 && touch pwned | cat & touch pwned",
    "}; touch pwned; {",
    ")); touch pwned; ((",
    "${VELTRANO_VALUE_2:=x}$(touch pwned)",
    std::string("a\0; touch pwned", 15),
    "\x80\xff caf\xc3\xa9 \x1b[0m",
    "\r\n\t",
};

struct Placement {
  const char* name;
  std::string text;  // "@" stands for the value
  std::string want;  // what the command writes to "out"; "@" stands for the value
};

// The command writes to "out" in its directory.
const Placement kPlacements[] = {
    {"unquoted_twice", "printf '[%s]' @ @ >out", "[@][@]"},
    {"glued_to_word", "printf '[%s]' pre@post >out", "[pre@post]"},
    {"single_quotes", "printf '[%s]' 'pre @ post' >out", "[pre @ post]"},
    {"double_quotes", "printf '[%s]' \"pre @ post\" >out", "[pre @ post]"},
    // A name character right after a reference would lengthen its name.
    {"double_quotes_glued_to_name_characters", "printf '[%s]' \"@post@1@_\" >out", "[@post@1@_]"},
    {"here_document_glued_to_name_characters", "cat >out <<EOF\n[@x@1@_]\nEOF", "[@x@1@_]\n"},
    {"backquotes", ": `printf '[%s]' @ >out`", "[@]"},
    {"backquotes_in_double_quotes", ": \"`printf '[%s]' \\\"@\\\" >out`\"", "[@]"},
    {"backquotes_after_backslash", ": `printf '[%s]' x\\\\@ >out`", "[x@]"},
    {"single_quotes_after_backquoted_comment", ": `: #`; printf '[%s]' '@' >out", "[@]"},
    {"here_document", "cat >out <<EOF\n[@]\nEOF", "[@]\n"},
    {"here_document_split_operator", "cat >out <\\\n<EOF\n[@]\nEOF", "[@]\n"},
    {"here_document_tabs", "cat >out <<-EOF\n\t[@]\n\tEOF\n", "[@]\n"},
    {"here_document_continued_delimiter", "cat >out <<EOF\nEO\\\nF\n[@]\nEOF", "EOF\n[@]\n"},
    {"here_document_delimiter_after_backslash", "cat >out <<EOF\\@\n[x]\n", "[x]\n"},
    {"here_document_quoted", "cat >/dev/null <<'EOF'\n@\nEOF\nprintf ok >out", "ok"},
    {"comment", "printf ok >out # @", "ok"},
    {"comment_after_line_continuation", "printf ok >out \\\n#@", "ok"},
    {"argument_after_line_continuation", "printf '[%s]' \\\n@ >out", "[@]"},
    {"after_backslash", "printf '[%s]' x\\@ >out", "[x@]"},
    {"after_backslash_in_double_quotes", "printf '[%s]' \"x\\@\" >out", "[x\\@]"},
    {"command_position", "@ 2>/dev/null; printf ok >out", "ok"},
};

std::string Replaced(std::string text, std::string_view by) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    text.replace(at, 1, by);
    at += by.size();
  }
  return text;
}

// A value as a failure message shows it.
std::string Shown(std::string_view value) {
  std::string out;
  for (unsigned char c : value) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7f && c != '\\' ? std::string(1, static_cast<char>(c)) : hex;
  }
  return out;
}

// The command line for `text` with `value` at each "@", as a template's
// EXECUTE gives it.
std::string Build(const std::string& text, const std::string& value, ShellReferences& refs) {
  testing::MapEnvironment env;
  testing::FixedClock clock;
  std::vector<FieldDefinition> fields(1);
  fields[0].name = "v";
  FieldValues values{value};
  Result<std::string> out = ExpandPlaceholders(Replaced(text, "$v$"),
                                               PlaceholderValues(fields, values, env, clock), refs);
  return out.ok() ? *out : "exit 99";
}

TEST(ShellReferencesTest, HostileValuesNeverRunAndArriveWhole) {
  for (const Placement& p : kPlacements) {
    for (const std::string& value : kValues) {
      SCOPED_TRACE(std::string(p.name) + " with \"" + Shown(value) + "\"");
      TempDir dir;
      ShellReferences refs;
      const std::string command =
          Build("cd '" + dir.path() + "' || exit 9\n" + p.text, value, refs);
      for (const auto& [name, got] : refs.environment()) EXPECT_EQ(got, value) << name;
      testing::CapturedOutput output;
      RecordedNotices notices;
      ASSERT_TRUE(RunExternalProgram(command, refs.environment(), output, notices).ok());
      EXPECT_EQ(notices.details, std::vector<std::string>{}) << command;
      EXPECT_FALSE(dir.Exists("pwned")) << command;
      // The environment ends a value at its first NUL, as C strings do.
      EXPECT_EQ(dir.Read("out"), Replaced(p.want, value.substr(0, value.find('\0')))) << command;
    }
  }
}

// The values go into the environment in order of appearance, each whole.
TEST(ShellReferencesTest, NumbersValuesInOrder) {
  ShellReferences refs;
  std::string out;
  refs.Literal("echo ", out);
  for (const char* value : {"a", "", "c d"}) refs.Replacement(value, out);
  EXPECT_EQ(refs.environment(),
            (platform::ExtraEnvironment{
                {"VELTRANO_VALUE_1", "a"}, {"VELTRANO_VALUE_2", ""}, {"VELTRANO_VALUE_3", "c d"}}));
}

}  // namespace
}  // namespace veltrano
