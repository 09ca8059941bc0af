#include "template/template_file.hpp"

#include <algorithm>

#include "platform/files.hpp"
#include "response/response.hpp"
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
// separators only (such a name is used unchanged).
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

// The directory of the first alias-file line whose key contains `alias`.
// The key is the text before the line's first "=" (leading "=" skipped); a
// line without "=" names no directory and never matches.
std::optional<std::string> LookUpAlias(std::string_view aliasFile, std::string_view alias) {
  for (std::string_view line : SplitLines(aliasFile)) {
    std::size_t keyStart = std::min(line.find_first_not_of('='), line.size());
    std::size_t equals = line.find('=', keyStart);
    if (equals == std::string_view::npos) continue;
    if (!FindNoCase(line.substr(keyStart, equals - keyStart), alias)) continue;
    std::string directory(line.substr(equals + 1));
    Trim(directory);
    return directory;
  }
  return std::nullopt;
}

struct Resolution {
  std::string path;
  bool aliased = false;
  std::string filePart;  // trimmed; set when aliased
};

// Resolves `name`. The "Template name missing" page names the template
// name up to its alias when the template itself is being resolved, and the
// template's resolved path for every later file.
Resolution Resolve(const RequestContext& ctx, std::string_view name, bool isTemplateName) {
  Resolution unchanged{std::string(name), false, {}};
  std::optional<AliasSplit> split = SplitAlias(name);
  if (!split) return unchanged;

  std::optional<std::string> aliasFile =
      platform::ReadTextFile(AliasFilePath(ctx.workingDirectory));
  if (!aliasFile) return unchanged;
  std::optional<std::string> directory = LookUpAlias(*aliasFile, split->alias);
  if (!directory) return unchanged;

  if (split->aliasEnd == std::string_view::npos || split->aliasEnd + 1 == name.size()) {
    std::string shown =
        isTemplateName ? std::string(name.substr(0, split->aliasEnd)) : ctx.templatePath;
    ReportFatal("Template name missing",
                "The template alias dir was specifed, but the template filename was not -> " +
                    HtmlEscape(shown));
  }
  std::string filePart(name.substr(split->aliasEnd + 1));
  Trim(filePart);
  return Resolution{*directory + "/" + filePart, true, filePart};
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

[[noreturn]] void RefuseTemplateName() {
  ReportFatal("Template error",
              "The template filename in the form ACTION is not allowed.  Please recheck html "
              "file");
}

}  // namespace

std::string AliasFilePath(std::string_view workingDirectory) {
  if (workingDirectory.empty()) return std::string(kAliasFileName);
  return std::string(workingDirectory) + "/" + std::string(kAliasFileName);
}

std::string StripComments(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::string_view piece = text.substr(pos, kTemplatePieceLength);
    std::size_t lf = piece.find('\n');
    if (lf != std::string_view::npos) piece = piece.substr(0, lf + 1);
    pos += piece.size();
    out.append(piece.substr(0, piece.find("//")));
  }
  return out;
}

void LoadTemplate(RequestContext& ctx, std::optional<std::string> name,
                  std::string workingDirectory) {
  ctx.workingDirectory = std::move(workingDirectory);
  if (!name) {
    ReportFatal("Template error",
                "A template filename was not specified in the form ACTION.  Please recheck html "
                "file");
  }
  ctx.templatePath = *name;

  // The name comes from the visitor: it may only reach files below the
  // program's directory or below an alias directory. Otherwise any readable
  // file, a data file with a visitor's EXECUTE line included, would be run
  // as a template.
  if (HasParentComponent(*name)) RefuseTemplateName();
  Resolution resolved = Resolve(ctx, *name, true);
  if (!resolved.aliased && (name->starts_with('/') || name->starts_with('\\'))) {
    RefuseTemplateName();
  }
  if (resolved.aliased && HasParentComponent(resolved.filePart)) RefuseTemplateName();
  ctx.templatePath = std::move(resolved.path);

  std::optional<std::string> text = platform::ReadTextFile(ctx.templatePath);
  if (!text) {
    ReportFatal("Error loading template file",
                "Error occured loading the template file.  Please contact your system "
                "administrator");
  }
  ctx.templateText = StripComments(*text);
}

std::string ResolveTemplatePath(const RequestContext& ctx, std::string_view name) {
  return Resolve(ctx, name, false).path;
}

std::optional<std::string> LoadTextFile(const RequestContext& ctx, std::string_view name) {
  return platform::ReadTextFile(ResolveTemplatePath(ctx, name));
}

}  // namespace veltrano
