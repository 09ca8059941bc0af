#include "template/template_file.hpp"

#include "platform/files.hpp"

namespace veltrano {

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

Result<std::string> TemplatePath(const std::optional<std::string>& name,
                                 const PathAliases& aliases) {
  if (!name) return Fail(FailureKind::kNoTemplateName);
  return aliases.ResolveTemplateName(*name);
}

Result<TemplateFile> LoadTemplate(const std::optional<std::string>& name,
                                  const PathAliases& aliases) {
  Result<std::string> path = TemplatePath(name, aliases);
  if (!path) return path.failure();
  std::string error;
  std::optional<std::string> text = ReadTemplateText(*path, &error);
  if (!text) return Fail(FailureKind::kTemplateUnreadable, {}, *path + ": " + error);
  return TemplateFile{std::move(*path), std::move(*text)};
}

std::optional<std::string> ReadTemplateText(const std::string& path, std::string* error) {
  std::optional<std::string> text = platform::ReadTextFile(path, error, kMaxTemplateSize);
  if (!text) return std::nullopt;
  return StripComments(*text);
}

QueryTokens SplitQuery(std::string_view query) {
  QueryTokens tokens;
  std::size_t pos = 0;
  for (std::optional<std::string>* slot : {&tokens.templateName, &tokens.debugToken}) {
    while (pos < query.size() && query[pos] == '&') ++pos;
    if (pos == query.size()) break;
    std::size_t end = query.find('&', pos);
    if (end == std::string_view::npos) end = query.size();
    *slot = std::string(query.substr(pos, end - pos));
    pos = end;
  }
  return tokens;
}

}  // namespace veltrano
