// The RECIPIENTS list: which sendto addresses a template lets its mail go
// to. An entry is a whole address, or "@domain" for every address at
// exactly that domain (not its subdomains); letters compare without regard
// to ASCII case, every other byte exactly. The whole value must match: a
// value with a display part ("Ann <ann@example.org>") matches no entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

bool RecipientAllowed(std::string_view address, const std::vector<std::string>& entries);

}  // namespace veltrano
