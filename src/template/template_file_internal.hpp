// Parts of template_file.cpp that its tests reach directly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrano {

// The comment rule works on pieces of this many characters; a "//" split
// across two pieces is not a comment. Kept because templates in use were
// written against it.
inline constexpr std::size_t kTemplatePieceLength = 499;

// `text` with every comment tail removed, piece by piece as
// template_file.hpp describes.
std::string StripComments(std::string_view text);

}  // namespace veltrano
