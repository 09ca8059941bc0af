// Web origins and redirect targets, as a template names them and a browser
// sends them.
//
// An origin is "scheme://host" or "scheme://host:port" (RFC 6454): the
// scheme http or https, the host a DNS name (labels of letters, digits and
// hyphens joined by single dots), an IPv4 address or an IPv6 address in
// brackets, the port 1 to 65535. NormalizedOrigin writes it as browsers
// send it in Origin: scheme and host in lower case, the port without
// leading zeros and left out when it is the scheme's own (80, 443). It
// refuses everything else: a path or a trailing "/", user information,
// "null", white space, any byte outside printable ASCII, and anything
// longer than kMaxOriginLength. A refused text is never written anywhere.
//
// A redirect target is what may follow "Location: ": an absolute http or
// https URL with a host, or a path on the same site that begins with one
// "/" ("//host" names another site). Only printable ASCII without space
// and backslash: the text stands in a header line as it is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace veltrano {

// The longest origin taken: a scheme, the longest DNS name (253) and a port.
inline constexpr std::size_t kMaxOriginLength = 300;

std::optional<std::string> NormalizedOrigin(std::string_view text);

bool IsRedirectTarget(std::string_view text);

}  // namespace veltrano
