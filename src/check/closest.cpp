#include "check/closest.hpp"

#include <algorithm>

#include "text/text.hpp"

namespace veltrano::check {

namespace {

// Edits from `a` to `b`, a swap of neighbours counting as one (optimal
// string alignment); both short, see Closest.
std::size_t Edits(std::string_view a, std::string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    for (std::size_t j = 1; j <= m; ++j) {
      const bool same = AsciiToLower(a[i - 1]) == AsciiToLower(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && AsciiToLower(a[i - 1]) == AsciiToLower(b[j - 2]) &&
          AsciiToLower(a[i - 2]) == AsciiToLower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

}  // namespace

std::optional<std::string> Closest(std::string_view name,
                                   const std::vector<std::string_view>& candidates) {
  std::optional<std::string> best;
  std::size_t bestEdits = kMaxTypoEdits + 1;
  for (std::string_view candidate : candidates) {
    // Names further apart in length are further apart in edits, and a long
    // name (a lone "$" makes the rest of a text one) is never compared.
    const std::size_t apart =
        std::max(name.size(), candidate.size()) - std::min(name.size(), candidate.size());
    if (apart > kMaxTypoEdits) continue;
    const std::size_t edits = Edits(name, candidate);
    if (edits == 0) return std::nullopt;
    if (edits < bestEdits && edits < std::min(name.size(), candidate.size())) {
      best = std::string(candidate);
      bestEdits = edits;
    }
  }
  return best;
}

}  // namespace veltrano::check
