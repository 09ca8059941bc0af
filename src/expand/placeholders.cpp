#include "expand/placeholders.hpp"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <type_traits>

#include "text/text.hpp"

namespace veltrano {

namespace {

std::string TwoDigits(int a, int b, int c, char separator) {
  char text[64];  // room for any int, though each part has two digits
  std::snprintf(text, sizeof text, "%02d%c%02d%c%02d", a % 100, separator, b % 100, separator,
                c % 100);
  return text;
}

std::string TimeText(const platform::LocalTime& t) {
  return TwoDigits(t.hour, t.minute, t.second, ':');
}

std::string DateText(const platform::LocalTime& t) {
  return TwoDigits(t.month, t.day, t.year, '/');
}

// The placeholders that read the clock: each name, exactly in lower case,
// and how it writes the reading.
struct ClockPlaceholder {
  std::string_view name;
  std::string (*text)(const platform::LocalTime&);
};
constexpr ClockPlaceholder kClockPlaceholders[] = {
    {"systemtime", TimeText}, {"systemdate", DateText}, {"systemdatetime", IsoDateTime}};

// Orders names by their bytes with ASCII letters lower-cased, so that
// names equal without regard to case stand together.
bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(AsciiToLower(x)) <
           static_cast<unsigned char>(AsciiToLower(y));
  });
}

const MarkupName* NamedIn(std::span<const MarkupName> markup, std::string_view name) {
  for (const MarkupName& m : markup) {
    if (EqualsNoCase(m.name, name)) return &m;
  }
  return nullptr;
}

}  // namespace

std::string IsoDateTime(const platform::LocalTime& t) {
  long minutes = t.utcOffsetSeconds / 60;  // zones in use today are whole minutes
  const char sign = minutes < 0 ? '-' : '+';
  if (minutes < 0) minutes = -minutes;
  char text[128];  // room for any values, though each part has its width
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", t.year, t.month,
                t.day, t.hour, t.minute, t.second, sign, minutes / 60, minutes % 60);
  return text;
}

std::span<const std::size_t> PlaceholderValues::PositionsOf(std::string_view name) const {
  auto nameOf = [this](std::size_t position) -> std::string_view { return fields_[position].name; };
  if (indexed_ != fields_.size()) {
    byName_.resize(fields_.size());
    std::iota(byName_.begin(), byName_.end(), std::size_t{0});
    std::stable_sort(byName_.begin(), byName_.end(), [&](std::size_t a, std::size_t b) {
      return LessNoCase(nameOf(a), nameOf(b));
    });
    indexed_ = fields_.size();
  }
  auto [first, last] =
      std::equal_range(byName_.begin(), byName_.end(), name, [&](const auto& a, const auto& b) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::size_t>) {
          return LessNoCase(nameOf(a), b);
        } else {
          return LessNoCase(a, nameOf(b));
        }
      });
  return {first, last};
}

std::optional<std::string> PlaceholderValues::Find(std::string_view name,
                                                   std::optional<platform::LocalTime>& now) const {
  // In template order: the fields of this name that stand before every
  // other field, then the clock and the environment (asked once, at the
  // first field with another name, if there is one), then the later fields
  // of this name. A field without a value never ends the walk.
  if (fields_.size() <= kFieldsWalked) {
    bool askedOthers = false;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      if (EqualsNoCase(fields_[i].name, name)) {
        if (values_[i]) return values_[i];
      } else if (!askedOthers) {
        askedOthers = true;
        if (std::optional<std::string> other = FindOther(name, now)) return other;
      }
    }
    return std::nullopt;
  }
  const std::span<const std::size_t> same = PositionsOf(name);
  std::size_t leading = 0;
  while (leading < same.size() && same[leading] == leading) ++leading;
  for (std::size_t k = 0; k < leading; ++k) {
    if (values_[same[k]]) return values_[same[k]];
  }
  if (leading < fields_.size()) {
    if (std::optional<std::string> other = FindOther(name, now)) return other;
  }
  for (std::size_t k = leading; k < same.size(); ++k) {
    if (values_[same[k]]) return values_[same[k]];
  }
  return std::nullopt;
}

std::optional<std::string> PlaceholderValues::FindOther(
    std::string_view name, std::optional<platform::LocalTime>& now) const {
  for (const ClockPlaceholder& clock : kClockPlaceholders) {
    if (name != clock.name) continue;
    if (!now) now = clock_.Now();
    return clock.text(*now);
  }
  // No variable name holds "=" or a zero byte; such a name would otherwise
  // reach getenv cut short and find some other variable.
  if (name.find_first_of(std::string_view("=\0", 2)) != std::string_view::npos) {
    return std::nullopt;
  }
  return env_.Get(AsciiUpper(name));
}

Result<std::string> ExpandPlaceholders(std::string_view text, const PlaceholderValues& values,
                                       Escaper& escaper, std::span<const MarkupName> markup) {
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
    } else if (const MarkupName* own = NamedIn(markup, piece)) {
      counted += escaper.Markup(own->markup, result);
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

bool IsFixedText(std::string_view text) {
  return text.find('$') == std::string_view::npos;
}

std::vector<std::string_view> ClockPlaceholderNames() {
  std::vector<std::string_view> names;
  for (const ClockPlaceholder& clock : kClockPlaceholders) names.push_back(clock.name);
  return names;
}

}  // namespace veltrano
