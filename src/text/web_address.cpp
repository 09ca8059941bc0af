#include "text/web_address.hpp"

#include <algorithm>

#include "text/text.hpp"

namespace veltrano {

namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsAsciiHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The scheme of an http or https URL in lower case, with the length of
// "scheme://" in `used`; none for any other text.
std::optional<std::string_view> WebScheme(std::string_view text, std::size_t& used) {
  for (std::string_view scheme : {"http", "https"}) {
    if (text.size() > scheme.size() + 3 && EqualsNoCase(text.substr(0, scheme.size()), scheme) &&
        text.substr(scheme.size(), 3) == "://") {
      used = scheme.size() + 3;
      return scheme;
    }
  }
  return std::nullopt;
}

// A DNS name or an IPv4 address: labels of letters, digits and hyphens,
// joined by single dots.
bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (IsAsciiAlnum(c) || c == '-') {
      ++label;
    } else {
      return false;
    }
  }
  return label > 0;
}

// "[...]" holding hexadecimal digits, colons and the dots of an embedded
// IPv4 address.
bool IsBracketedAddress(std::string_view host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  return std::all_of(host.begin() + 1, host.end() - 1,
                     [](char c) { return IsAsciiHex(c) || c == ':' || c == '.'; });
}

}  // namespace

[[gnu::cold]] std::optional<std::string> NormalizedOrigin(std::string_view text) {
  std::size_t used = 0;
  if (text.size() > kMaxOriginLength) return std::nullopt;
  std::optional<std::string_view> scheme = WebScheme(text, used);
  if (!scheme) return std::nullopt;
  std::string_view rest = text.substr(used);
  // The port follows the last ':' outside the brackets of an IPv6 address.
  std::size_t colon = rest.rfind(':');
  if (colon != std::string_view::npos && rest.find(']', colon) != std::string_view::npos) {
    colon = std::string_view::npos;
  }
  std::string_view host = rest.substr(0, colon);
  if (!IsHostName(host) && !IsBracketedAddress(host)) return std::nullopt;
  std::string origin(*scheme);
  origin += "://";
  origin += host;
  AsciiLowerInPlace(origin);
  if (colon != std::string_view::npos) {
    const std::string_view digits = rest.substr(colon + 1);
    std::optional<unsigned long long> port = ParseDecimal(digits);
    if (!port || digits.size() > 5 || *port == 0 || *port > 65535) return std::nullopt;
    if (*port != (*scheme == "http" ? 80u : 443u)) origin += ":" + std::to_string(*port);
  }
  return origin;
}

[[gnu::cold]] bool IsRedirectTarget(std::string_view text) {
  const bool printable = std::all_of(text.begin(), text.end(),
                                     [](char c) { return c > ' ' && c < 0x7F && c != '\\'; });
  if (!printable) return false;
  std::size_t used = 0;
  if (WebScheme(text, used)) {
    const std::string_view authority = text.substr(used, text.find_first_of("/?#", used) - used);
    return !authority.empty();
  }
  return text.starts_with('/') && !text.starts_with("//");
}

}  // namespace veltrano
