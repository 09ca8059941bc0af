#include "template/aliases.hpp"

#include <algorithm>
#include <optional>

#include "platform/files.hpp"
#include "platform/temp_file.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

constexpr std::string_view kAliasFileName = "veltrano.cfg";

// Where a name's alias ends and its file part starts.
struct AliasSplit {
  std::string_view alias;
  std::size_t aliasEnd;  // offset of the separator after the alias, or npos
};

// The alias of `name`, or none when the name has no separator or is made of
// separators only.
std::optional<AliasSplit> SplitAlias(std::string_view name) {
  char separator;
  if (name.find('/') != std::string_view::npos) {
    separator = '/';
  } else if (name.find('\\') != std::string_view::npos) {
    separator = '\\';
  } else {
    return std::nullopt;
  }
  std::size_t start = name.find_first_not_of(separator);
  if (start == std::string_view::npos) return std::nullopt;
  std::size_t end = name.find(separator, start);
  std::size_t length = end == std::string_view::npos ? name.size() - start : end - start;
  return AliasSplit{name.substr(start, length), end};
}

// True when a "/" or "\" separated component of `path` is "..".
bool HasParentComponent(std::string_view path) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find_first_of("/\\", start);
    if (path.substr(start, end == std::string_view::npos ? end : end - start) == "..") {
      return true;
    }
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

}  // namespace

std::string AliasFilePath(std::string_view workingDirectory) {
  if (workingDirectory.empty()) return std::string(kAliasFileName);
  // The directory text of the program's path ends with its separator.
  const std::string_view separator = workingDirectory.ends_with('/') ? "" : "/";
  return std::string(workingDirectory) + std::string(separator) + std::string(kAliasFileName);
}

PathAliases::PathAliases(std::string workingDirectory, Notices* notices)
    : workingDirectory_(std::move(workingDirectory)), notices_(notices) {}

void PathAliases::Load() const {
  // A file that can't be read has no lines: every name stays as it is.
  lines_.emplace();
  const std::string path = AliasFilePath(workingDirectory_);
  std::string error;
  const std::optional<std::string> file = platform::ReadTextFile(path, &error, kMaxAliasFileSize);
  if (!file) {
    // Without an alias file there is nothing to tell.
    if (!platform::PathExists(path)) return;
    unusable_ = path + ": " + error;
    if (notices_ != nullptr) notices_->Note(NoticeKind::kAliasFileUnusable, *unusable_);
    return;
  }
  for (std::string_view line : SplitLines(*file)) {
    // The key is the text before the line's first "=" (leading "=" skipped).
    std::size_t keyStart = std::min(line.find_first_not_of('='), line.size());
    std::size_t equals = line.find('=', keyStart);
    if (equals == std::string_view::npos) continue;
    AliasLine& kept =
        lines_->emplace_back(AliasLine{std::string(line.substr(keyStart, equals - keyStart)),
                                       std::string(line.substr(equals + 1))});
    Trim(kept.directory);
  }
}

const std::optional<std::string>& PathAliases::Unusable() const {
  if (!lines_) Load();
  return unusable_;
}

std::optional<std::string> PathAliases::LookUp(std::string_view alias) const {
  if (!lines_) Load();
  for (const AliasLine& line : *lines_) {
    if (FindNoCase(line.key, alias)) return line.directory;
  }
  return std::nullopt;
}

Result<PathAliases::Resolution> PathAliases::Map(std::string_view name,
                                                 std::optional<std::string_view> shownName) const {
  Resolution unchanged{std::string(name), false, {}};
  std::optional<AliasSplit> split = SplitAlias(name);
  if (!split) return unchanged;
  std::optional<std::string> directory = LookUp(split->alias);
  if (!directory) return unchanged;

  if (split->aliasEnd == std::string_view::npos || split->aliasEnd + 1 == name.size()) {
    std::string shown(shownName.value_or(name.substr(0, split->aliasEnd)));
    return Fail(FailureKind::kAliasWithoutFileName, shown, "name " + std::string(name));
  }
  std::string filePart(name.substr(split->aliasEnd + 1));
  Trim(filePart);
  return Resolution{*directory + "/" + filePart, true, filePart};
}

Result<std::string> PathAliases::ResolveTemplateName(std::string_view name) const {
  if (HasParentComponent(name)) {
    return Fail(FailureKind::kTemplateNameRefused, {}, "a \"..\" component");
  }
  Result<Resolution> resolved = Map(name, std::nullopt);
  if (!resolved) return resolved.failure();
  if (!resolved->aliased && (name.starts_with('/') || name.starts_with('\\'))) {
    return Fail(FailureKind::kTemplateNameRefused, {}, "an absolute path");
  }
  if (resolved->aliased && HasParentComponent(resolved->filePart)) {
    return Fail(FailureKind::kTemplateNameRefused, {}, "a \"..\" component");
  }
  return std::move(resolved->path);
}

Result<std::string> PathAliases::Resolve(std::string_view name,
                                         std::string_view templatePath) const {
  Result<Resolution> resolved = Map(name, templatePath);
  if (!resolved) return resolved.failure();
  return std::move(resolved->path);
}

}  // namespace veltrano
