// Locating and loading the template and the files it names.
//
// A name that holds '/' (or, failing that, '\') may start with an alias: its
// first run of non-separator characters. The alias file veltrano.cfg in the
// program's directory holds lines "key=directory"; the first line whose key
// contains the alias (ASCII case ignored) maps the name to
// directory + "/" + the rest of the name, both trimmed. A missing alias file,
// no matching line, or a line without "=" leaves the name unchanged, and a
// relative name then resolves against the current (program's) directory.
//
// The template loses every "//" comment tail: the text is cut into pieces of
// at most kTemplatePieceLength characters, each up to and including its LF,
// and each piece ends before its first "//" (dropping that piece's LF too).
//
// Failures end the request through ReportFatal: no template name, a name a
// visitor may not use (absolute without alias, or holding a ".." component),
// an alias without a file name, a template that can't be read. Query-string
// text in a message is HTML-escaped. Alias-file lines are held whole.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

// Stores the working directory and the template name, checks and resolves
// the name and reads the template into ctx.templateText. Returns only on
// success.
void LoadTemplate(RequestContext& ctx, std::optional<std::string> name,
                  std::string workingDirectory);

// The path `name` stands for after the alias file: `name` itself or the
// joined alias path. Trusts the name to come from the administrator (no ".."
// or absolute-path check here; LoadTemplate does that for visitors' names).
// A matching alias with nothing after it ends the request with "Template
// name missing", naming ctx.templatePath.
std::string ResolveTemplatePath(const RequestContext& ctx, std::string_view name);

// The whole file named by `name` (resolved first), read in text mode without
// the comment rule, or none when it can't be read.
std::optional<std::string> LoadTextFile(const RequestContext& ctx, std::string_view name);

// End of public API. Implementation details follow.

// The comment rule works on pieces of this many characters; a "//" split
// across two pieces is not a comment. Kept because templates in use were
// written against it.
inline constexpr std::size_t kTemplatePieceLength = 499;

// `text` with every comment tail removed, piece by piece as described above.
std::string StripComments(std::string_view text);

// The alias file's path for a working directory.
std::string AliasFilePath(std::string_view workingDirectory);

}  // namespace veltrano
