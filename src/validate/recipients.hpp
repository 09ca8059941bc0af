// The RECIPIENTS list: which sendto addresses a template lets its mail go
// to. An entry is a whole address, or "@domain" for every address at
// exactly that domain (not its subdomains); letters compare without regard
// to ASCII case, every other byte exactly.
//
// Only a plain address (text/address.hpp) matches any entry, and for an
// "@domain" entry its local part must hold no '%' and no '!': mail servers
// route "x%evil@dom" and "x!evil@dom" on to evil, and read quoted local
// parts, comments and lists as other addresses than the text after the
// last '@' suggests. A value with a display part ("Ann <ann@example.org>")
// therefore matches nothing either.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

bool RecipientAllowed(std::string_view address, const std::vector<std::string>& entries);

// True when some address can match `entry`: it is a plain address, or "@"
// and a domain a plain address can have.
bool EntryCanMatch(std::string_view entry);

}  // namespace veltrano
