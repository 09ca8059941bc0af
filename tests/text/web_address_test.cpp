#include "text/web_address.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(NormalizedOriginTest, WritesOriginsAsBrowsersSendThem) {
  const struct {
    std::string text;
    std::optional<std::string> want;
  } cases[] = {
      {"https://www.example.org", "https://www.example.org"},
      {"HTTPS://WWW.Example.ORG", "https://www.example.org"},
      {"http://example.org:80", "http://example.org"},
      {"https://example.org:443", "https://example.org"},
      {"http://example.org:443", "http://example.org:443"},
      {"http://127.0.0.1:08080", "http://127.0.0.1:8080"},
      {"http://[::1]:8080", "http://[::1]:8080"},
      {"https://[2001:DB8::1]", "https://[2001:db8::1]"},
      {"https://xn--bcher-kva.example", "https://xn--bcher-kva.example"},
      // Anything else is no origin.
      {"null", std::nullopt},
      {"https://example.org/", std::nullopt},
      {"https://example.org/path", std::nullopt},
      {"https://user@example.org", std::nullopt},
      {"ftp://example.org", std::nullopt},
      {"https://", std::nullopt},
      {"https://example..org", std::nullopt},
      {"https://.example.org", std::nullopt},
      {"https://example.org.", std::nullopt},
      {"https://exa mple.org", std::nullopt},
      {"https://example.org\r\nSet-Cookie: a=b", std::nullopt},
      {"https://b\xc3\xbc"
       "cher.example",
       std::nullopt},
      {"https://example.org:", std::nullopt},
      {"https://example.org:0", std::nullopt},
      {"https://example.org:65536", std::nullopt},
      {"https://example.org:+80", std::nullopt},
      {"https://example.org:123456", std::nullopt},
      {"https://[::1", std::nullopt},
      {"https://[]", std::nullopt},
      {"https://[::1]x", std::nullopt},
      {"https://" + std::string(kMaxOriginLength, 'a'), std::nullopt},
      {"*", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizedOrigin(c.text), c.want) << c.text;
}

TEST(IsRedirectTargetTest, TakesWebUrlsAndPathsOfTheSite) {
  const struct {
    std::string text;
    bool want;
  } cases[] = {
      {"https://www.example.org/thanks.html", true},
      {"HTTP://example.org", true},
      {"https://example.org?x=1&y=%20#top", true},
      {"/thanks.html", true},
      {"/", true},
      {"//evil.example/", false},
      {"/\\evil.example/", false},
      {"thanks.html", false},
      {"javascript:alert(1)", false},
      {"https://", false},
      {"https:///path", false},
      {"/a b", false},
      {"/a\r\nSet-Cookie: x", false},
      {"/caf\xc3\xa9", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRedirectTarget(c.text), c.want) << c.text;
}

}  // namespace
}  // namespace veltrano
