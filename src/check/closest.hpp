// "Did you mean": the known name a mistyped one most likely stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano::check {

// A typo is at most this many edits: a letter added, dropped or changed,
// or two neighbours swapped.
inline constexpr std::size_t kMaxTypoEdits = 2;

// The candidate fewest edits away from `name` (ASCII case ignored), when
// that is at most kMaxTypoEdits and fewer than either has letters (so "a"
// is not taken for "to"); the earlier one on a tie; none when `name` is a
// candidate itself.
std::optional<std::string> Closest(std::string_view name,
                                   const std::vector<std::string_view>& candidates);

}  // namespace veltrano::check
