#include "template/template_file.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/files.hpp"
#include "text/text.hpp"

namespace veltrano {

namespace {

// The sections whose text keeps its "//": they hold web addresses.
constexpr std::pair<std::string_view, std::string_view> kUrlSections[] = {
    {"<SUCCEEDURL>", "</SUCCEEDURL>"}, {"<ALLOWORIGIN>", "</ALLOWORIGIN>"}};

// The piece of `text` that starts at `pos`: up to and including its LF,
// at most kTemplatePieceLength characters.
std::string_view PieceAt(std::string_view text, std::size_t pos) {
  std::string_view piece = text.substr(pos, kTemplatePieceLength);
  std::size_t lf = piece.find('\n');
  if (lf != std::string_view::npos) piece = piece.substr(0, lf + 1);
  return piece;
}

// The comment rule alone.
std::string StripPieces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    std::string_view piece = PieceAt(text, pos);
    pos += piece.size();
    out.append(piece.substr(0, piece.find("//")));
  }
  return out;
}

// The comment rule, but from the first opening tag of a URL section that
// stands in the text it keeps up to that section's closing tag, the text
// is kept as it stands; the closing tag starts a new piece. A section
// without a closing tag keeps the rule.
[[gnu::cold]] std::string StripKeepingUrls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool opened[std::size(kUrlSections)] = {};
  std::size_t searchFrom = 0;  // where an opening tag may begin in `out`
  for (std::size_t pos = 0; pos < text.size();) {
    const std::string_view piece = PieceAt(text, pos);
    const std::size_t pieceStart = pos, outStart = out.size();
    pos += piece.size();
    out.append(piece.substr(0, piece.find("//")));
    // The earliest opening tag this piece completes (it may begin in the
    // piece before).
    std::optional<std::size_t> tagEnd, section;
    for (std::size_t i = 0; i < std::size(kUrlSections); ++i) {
      const std::string_view open = kUrlSections[i].first;
      if (opened[i]) continue;
      const std::size_t from = std::max(searchFrom, outStart - std::min(outStart, open.size() - 1));
      std::optional<std::size_t> at = FindNoCase(std::string_view(out).substr(from), open);
      if (at && (!tagEnd || from + *at + open.size() < *tagEnd)) {
        tagEnd = from + *at + open.size();
        section = i;
      }
    }
    if (!tagEnd) continue;
    opened[*section] = true;
    const std::size_t rawTagEnd = pieceStart + (*tagEnd - outStart);
    std::optional<std::size_t> close =
        FindNoCase(text.substr(rawTagEnd), kUrlSections[*section].second);
    if (!close) continue;
    out.resize(*tagEnd);
    out.append(text.substr(rawTagEnd, *close));
    pos = rawTagEnd + *close;
    searchFrom = out.size();
  }
  return out;
}

}  // namespace

std::string StripComments(std::string_view text) {
  std::string out = StripPieces(text);
  // A template without these sections reads as it always has.
  for (const auto& [open, close] : kUrlSections) {
    if (FindNoCase(out, open)) return StripKeepingUrls(text);
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
