#include "expand/placeholders.hpp"

#include <cstdio>

#include "text/text.hpp"

namespace veltrano {

namespace {

std::string TwoDigits(int a, int b, int c, char separator) {
  char text[64];  // room for any int, though each part has two digits
  std::snprintf(text, sizeof text, "%02d%c%02d%c%02d", a % 100, separator, b % 100, separator,
                c % 100);
  return text;
}

}  // namespace

std::optional<std::string> PlaceholderValues::Find(std::string_view name,
                                                   std::optional<platform::LocalTime>& now) const {
  bool triedOthers = false;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (EqualsNoCase(fields_[i].name, name)) {
      if (values_[i]) return values_[i];
      continue;  // a matching field without a value never ends the walk
    }
    // Fields that differ all give the same answer, so ask once.
    if (triedOthers) continue;
    triedOthers = true;
    if (std::optional<std::string> other = FindOther(name, now)) return other;
  }
  return std::nullopt;
}

std::optional<std::string> PlaceholderValues::FindOther(
    std::string_view name, std::optional<platform::LocalTime>& now) const {
  if (name == "systemtime" || name == "systemdate") {
    if (!now) now = clock_.Now();
    return name == "systemtime" ? TwoDigits(now->hour, now->minute, now->second, ':')
                                : TwoDigits(now->month, now->day, now->year, '/');
  }
  // No variable name holds "=" or a zero byte; such a name would otherwise
  // reach getenv cut short and find some other variable.
  if (name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  return env_.Get(AsciiUpper(name));
}

Result<std::string> ExpandPlaceholders(std::string_view text, const PlaceholderValues& values,
                                       Escaper& escaper) {
  std::string result;
  std::size_t counted = 0;
  std::optional<platform::LocalTime> now;
  // A text that begins with a placeholder gets a leading space, so that the
  // first piece is always literal text.
  bool literal = true;
  if (!text.empty() && text.front() == '$') {
    escaper.Literal(" ", result);
    counted = 1;
    literal = false;
  }
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t start = text.find_first_not_of('$', at);
    if (start == std::string_view::npos) break;
    std::size_t end = std::min(text.find('$', start), text.size());
    std::string_view piece = text.substr(start, end - start);
    at = end;
    if (literal) {
      escaper.Literal(piece, result);
      counted += piece.size();
    } else if (std::optional<std::string> value = values.Find(piece, now)) {
      counted += escaper.Replacement(*value, result);
    }
    literal = !literal;
    if (counted > kMaxExpandedLength) return Fail(FailureKind::kExpansionTooLong);
  }
  return result;
}

std::vector<std::string_view> PlaceholderNames(std::string_view text) {
  std::vector<std::string_view> names;
  bool literal = !text.starts_with('$');
  for (std::size_t at = 0; at < text.size();) {
    std::size_t start = text.find_first_not_of('$', at);
    if (start == std::string_view::npos) break;
    std::size_t end = std::min(text.find('$', start), text.size());
    if (!literal) names.push_back(text.substr(start, end - start));
    literal = !literal;
    at = end;
  }
  return names;
}

}  // namespace veltrano
