// Names of uploaded files, as a visitor's browser sends them: untrusted.
//
// CleanFileName makes one fit to stand as a field's value and, after the
// header's own quoting or encoding, in a mail header: its last path
// component (after the last '/' or '\': old browsers sent whole Windows
// paths, and a name must not lead a reader's program into a directory),
// without control characters (C0, DEL, C1, and the Unicode direction marks
// that make a name read other than it is, "cv\u202Efdp.exe"), spaces
// trimmed at both ends, every byte that starts no well-formed UTF-8
// sequence replaced by '_' (the result is valid UTF-8), and at most
// kMaxFileNameBytes bytes: a longer name loses the end of its stem, never
// part of a character, and keeps a short extension. Only forms with files
// come here: the definitions are cold, as mail/attachments.hpp says.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veltrano {

// What file systems and mail programs take for one name.
inline constexpr std::size_t kMaxFileNameBytes = 255;

std::string CleanFileName(std::string_view raw);

// The text after the last '.' of `name`, ASCII letters in lower case; empty
// without a '.'.
std::string FileExtension(std::string_view name);

}  // namespace veltrano
