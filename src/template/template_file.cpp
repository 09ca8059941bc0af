#include "template/template_file.hpp"

#include "platform/files.hpp"
#include "template/template_file_internal.hpp"

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

Result<TemplateFile> LoadTemplate(const std::optional<std::string>& name,
                                  const PathAliases& aliases) {
  if (!name) return Fail(FailureKind::kNoTemplateName);
  Result<std::string> path = aliases.ResolveTemplateName(*name);
  if (!path) return path.failure();
  std::string error;
  std::optional<std::string> text = platform::ReadTextFile(*path, &error);
  if (!text) return Fail(FailureKind::kTemplateUnreadable, {}, *path + ": " + error);
  return TemplateFile{std::move(*path), StripComments(*text)};
}

}  // namespace veltrano
