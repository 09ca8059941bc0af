// Loading the template named in the query string.
//
// SplitQuery takes the template name and the debug switch from the query
// string (veltrano-check reads a name as the form's ACTION gives it the
// same way).
//
// The name is checked and resolved (aliases.hpp), and the file read in text
// mode; then the template loses every "//" comment tail: the text is cut
// into pieces of at most 499 characters (kTemplatePieceLength), each up to
// and including its LF, and each piece ends before its first "//" (dropping
// that piece's LF too). Web addresses are written with "//": the text of
// SUCCEEDURL and ALLOWORIGIN, from the first opening tag that survives the
// rule up to its closing tag, is kept as it stands, and the closing tag
// starts a new piece. A template without those tags reads as it always has.
//
// Failures: no template name, a name a visitor may not use, an alias without
// a file name, a template that can't be read (the log gets its path and the
// OS error) or whose text is over kMaxTemplateSize.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "model/result.hpp"
#include "template/aliases.hpp"

namespace veltrano {

// The template name and debug switch of a query string. "&" separates; runs
// of separators count as one, so no token is empty; tokens after the second
// are ignored.
struct QueryTokens {
  std::optional<std::string> templateName;
  std::optional<std::string> debugToken;
};
QueryTokens SplitQuery(std::string_view query);

struct TemplateFile {
  std::string path;  // as resolved and read
  std::string text;  // without comment tails
};

Result<TemplateFile> LoadTemplate(const std::optional<std::string>& name,
                                  const PathAliases& aliases);

// LoadTemplate's steps, for veltrano-check, which reports the reasons in
// its own words. The path of the template `name` names (the name checked
// and resolved)...
Result<std::string> TemplatePath(const std::optional<std::string>& name,
                                 const PathAliases& aliases);

// The longest template text read. Templates are a few kilobytes of the
// administrator's text; a larger file is a mistake (a data file or a log
// named as a template) and is refused rather than read into memory whole.
inline constexpr std::size_t kMaxTemplateSize = 1024 * 1024;

// ... and the text of the template at `path` without its comment tails;
// none when it can't be read or is too large, with
// `error` saying why.
std::optional<std::string> ReadTemplateText(const std::string& path, std::string* error);

// The comment rule works on pieces of this many characters; a "//" split
// across two pieces is not a comment. Kept because templates in use were
// written against it.
inline constexpr std::size_t kTemplatePieceLength = 499;

// `text` with every comment tail removed, piece by piece as described above.
std::string StripComments(std::string_view text);

}  // namespace veltrano
