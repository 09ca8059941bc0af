#include "expand/shell_quote.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/process.hpp"
#include "support/cgi_runner.hpp"

namespace veltrano {
namespace {

// Builds a command line from alternating pieces: literal, replacement,
// literal, ... as the placeholder expander does.
std::string Build(const std::vector<std::string>& pieces) {
  ShellQuoteState state;
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i % 2 == 0) {
      state.Literal(pieces[i]);
      out += pieces[i];
    } else {
      out += state.Quote(pieces[i]);
    }
  }
  return out;
}

struct QuoteCase {
  const char* name;
  std::vector<std::string> pieces;
  std::string want;
};

class ShellQuoteTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(ShellQuoteTest, QuotesForWhereTheValueStands) {
  EXPECT_EQ(Build(GetParam().pieces), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Contexts, ShellQuoteTest,
    ::testing::Values(
        QuoteCase{"unquoted", {"echo ", "a b"}, "echo 'a b'"},
        QuoteCase{"unquoted_quote", {"echo ", "it's"}, "echo 'it'\\''s'"},
        QuoteCase{"unquoted_empty", {"echo ", "", " x"}, "echo '' x"},
        QuoteCase{"double", {"echo \"v=", "$a`b\"c\\d'e", "\""}, "echo \"v=\\$a\\`b\\\"c\\\\d'e\""},
        QuoteCase{"single", {"echo 'v=", "it's", "'"}, "echo 'v=''it'\\''s'''"},
        QuoteCase{"after_closed_quotes", {"echo 'a' \"b\" ", "x"}, "echo 'a' \"b\" 'x'"},
        QuoteCase{"double_inside_single", {"echo '\"", "x", "'"}, "echo '\"''x'''"},
        QuoteCase{"escaped_quote_stays_unquoted", {"echo \\' ", "x"}, "echo \\' 'x'"},
        QuoteCase{"escaped_quote_in_double", {"echo \"\\\" ", "x", "\""}, "echo \"\\\" x\""},
        QuoteCase{"trailing_backslash", {"echo x\\", "v"}, "echo x\\\n'v'"},
        QuoteCase{"trailing_backslash_in_double", {"echo \"x\\", "$v", "\""}, "echo \"x\\\\\\$v\""},
        QuoteCase{"backslash_consumed_once", {"echo x\\", "a", "", "b"}, "echo x\\\n'a''b'"},
        QuoteCase{"line_continuation", {"echo \\\n", "v"}, "echo \\\n'v'"},
        QuoteCase{"comment", {"echo a # ", "x\ntouch pwned"}, "echo a # xtouch pwned"},
        QuoteCase{"comment_ends_at_newline", {"echo # c\necho ", "v"}, "echo # c\necho 'v'"},
        QuoteCase{"hash_inside_word", {"echo a#", "v"}, "echo a#'v'"},
        QuoteCase{"hash_after_value", {"echo ", "v", "#", "w"}, "echo 'v'#'w'"},
        QuoteCase{
            "backquotes_inert_only", {"echo `echo ", "a;b$(c)`'\"\\", "`"}, "echo `echo abc`"},
        QuoteCase{"after_backquotes", {"echo `date` ", "a;b"}, "echo `date` 'a;b'"},
        QuoteCase{"here_document_inert_only",
                  {"cat <<EOF\n", "x\nEOF\nid", "\nEOF"},
                  "cat <<EOF\nxEOFid\nEOF"},
        QuoteCase{"literal_dollar_inert_only", {"echo $(echo ", "a;b)", ")"}, "echo $(echo ab)"},
        QuoteCase{"nul_dropped", {"echo ", std::string("a\0b", 3)}, "echo 'ab'"},
        QuoteCase{"redirection_not_heredoc", {"cat <", "f", " >", "g"}, "cat <'f' >'g'"}),
    [](const auto& info) { return std::string(info.param.name); });

// The same quoting, read by the real /bin/sh: each hostile value is placed
// unquoted, in "...", in '...', after a backslash, in a comment and in
// backquotes; nothing may run, and where the reading is exact the command
// must receive the value as it was.
struct Placement {
  const char* name;
  std::vector<std::string> pieces;  // "VALUE" marks the replacement
  bool exact;                       // the printed argument must equal `want`
  std::string before, after;        // the printed argument around the value
};

std::string PrintedOutput(const testing::TempDir& dir, const Placement& p,
                          const std::string& value) {
  std::vector<std::string> pieces{"cd '" + dir.path() +
                                  "' || exit 9\nexec >out\nprintf '[%s]\\n' "};
  for (std::size_t i = 0; i < p.pieces.size(); ++i) {
    if (i % 2 == 0) {
      pieces.back() += p.pieces[i];
    } else {
      pieces.push_back(value);
      pieces.push_back("");
    }
  }
  pieces.back() += "\n";
  EXPECT_EQ(platform::RunShellCommand(Build(pieces)), 0);
  return dir.Read("out");
}

TEST(ShellQuoteShellTest, HostileValuesReachTheCommandAsLiteralText) {
  const Placement placements[] = {
      {"unquoted", {"", "VALUE", ""}, true, "", ""},
      {"unquoted_glued", {"pre", "VALUE", "post"}, true, "pre", "post"},
      {"double", {"\"pre ", "VALUE", " post\""}, true, "pre ", " post"},
      {"single", {"'pre ", "VALUE", " post'"}, true, "pre ", " post"},
      {"after_backslash", {"x\\", "VALUE", ""}, true, "x", ""},
      {"after_backslash_in_double", {"\"x\\", "VALUE", "\""}, true, "x\\", ""},
      {"comment", {"a # ", "VALUE", ""}, false, "", ""},
      {"backquotes", {"\"`echo ", "VALUE", "`\""}, false, "", ""},
  };
  const std::string values[] = {
      "x; touch pwned",
      "$(touch pwned)",
      "`touch pwned`",
      "'\"",
      "'; touch pwned; '",
      "\"; touch pwned; \"",
      "a\ntouch pwned\n",
      "\\",
      "\\'; touch pwned #",
      "$HOME *",
      "",
      "--x ~ {a,b} !1 && touch pwned",
  };
  for (const Placement& p : placements) {
    for (const std::string& value : values) {
      testing::TempDir dir;
      std::string out = PrintedOutput(dir, p, value);
      EXPECT_FALSE(dir.Exists("pwned")) << p.name << ": " << value;
      if (p.exact) {
        EXPECT_EQ(out, "[" + p.before + value + p.after + "]\n") << p.name << ": " << value;
      }
    }
  }
}

}  // namespace
}  // namespace veltrano
