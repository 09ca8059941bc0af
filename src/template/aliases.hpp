// Path aliases: the alias file veltrano.cfg in the program's directory maps
// the first part of a name to a directory.
//
// A name that holds '/' (or, failing that, '\') may start with an alias: its
// first run of non-separator characters. The alias file holds lines
// "key=directory"; the first line whose key contains the alias (ASCII case
// ignored) maps the name to directory + "/" + the rest of the name, both
// trimmed. A missing alias file, no matching line, or a line without "="
// leaves the name unchanged, and a relative name then resolves against the
// current (program's) directory. Alias-file lines are held whole. A name
// made only of separators is used unchanged. The alias file is read once, at
// the first name that holds a separator, and its lines kept for every name
// after it: one request reads it once. An alias file that exists but can't
// be read, or whose text is over kMaxAliasFileSize, counts as missing, and
// the notices hear of it.
//
// The template name comes from the visitor and may only reach files below
// the program's directory or below an alias directory: an absolute name
// without alias, or one holding a ".." component (in the name or in an
// alias's file part), is refused. Names from the template (page, address and
// data files) are the administrator's and are not checked.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/notices.hpp"
#include "model/result.hpp"

namespace veltrano {

// The longest alias file read: a few lines of "key=directory" need a few
// hundred bytes.
inline constexpr std::size_t kMaxAliasFileSize = 1024 * 1024;

// The alias file's path in `workingDirectory`; the file name alone for an
// empty one (the current directory).
std::string AliasFilePath(std::string_view workingDirectory);

class PathAliases {
 public:
  // `workingDirectory` is where the alias file lies; empty for the current
  // directory. `notices`, when given, hears of an alias file that can't be
  // used, and must outlive this.
  explicit PathAliases(std::string workingDirectory, Notices* notices = nullptr);

  // The path of the template named in the query string. A matching alias
  // with no file name after it gives "Template name missing" naming the
  // name up to its alias.
  Result<std::string> ResolveTemplateName(std::string_view name) const;

  // The path of a file the template names. A matching alias with no file
  // name after it gives "Template name missing" naming `templatePath`.
  Result<std::string> Resolve(std::string_view name, std::string_view templatePath) const;

  // Why the alias file can't be used ("PATH: reason"), reading it now if it
  // was not read yet; none when it was read or does not exist.
  const std::optional<std::string>& Unusable() const;

 private:
  struct Resolution {
    std::string path;
    bool aliased = false;
    std::string filePart;  // trimmed; set when aliased
  };
  // `shownName` is what "Template name missing" names; none for the name up
  // to its alias.
  Result<Resolution> Map(std::string_view name, std::optional<std::string_view> shownName) const;

  // A line "key=directory" of the alias file: the key without the leading
  // "=", the directory trimmed.
  struct AliasLine {
    std::string key;
    std::string directory;
  };
  // The directory of the first line whose key contains `alias`; the file is
  // read at the first call.
  std::optional<std::string> LookUp(std::string_view alias) const;
  void Load() const;

  std::string workingDirectory_;
  Notices* notices_;
  mutable std::optional<std::vector<AliasLine>> lines_;  // none: not read yet
  mutable std::optional<std::string> unusable_;
};

}  // namespace veltrano
