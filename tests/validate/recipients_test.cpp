#include "validate/recipients.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(RecipientAllowedTest, MatchesWholeAddressesAndExactDomains) {
  const std::vector<std::string> entries = {"Owner@Example.org", "@sales.example.com"};
  const struct {
    const char* address;
    bool allowed;
  } cases[] = {
      {"owner@example.org", true},
      {"OWNER@EXAMPLE.ORG", true},
      {"other@example.org", false},
      {"owner@example.org.evil", false},
      {"anyone@sales.example.com", true},
      {"anyone@SALES.example.COM", true},
      {"anyone@eu.sales.example.com", false},  // a subdomain is another domain
      {"@sales.example.com", false},           // no one at all
      {"Owner <owner@example.org>", false},    // a display part is not the address
      {"victim@example.com", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecipientAllowed(c.address, entries), c.allowed) << c.address;
  }
  EXPECT_FALSE(RecipientAllowed("a@b.c", {}));
}

TEST(EntryCanMatchTest, PlainAddressesAndDomains) {
  for (const char* entry : {"a@b.example", "@b.example", "x%y@b.example"}) {
    EXPECT_TRUE(EntryCanMatch(entry)) << entry;
  }
  for (const char* entry : {"Team <a@b.example>", "@", "b.example", "a@@b", "@b c", ""}) {
    EXPECT_FALSE(EntryCanMatch(entry)) << entry;
  }
}

// Forms a mail server reads as another address than the text after the
// last '@' suggests: each would relay to evil.example.
TEST(RecipientAllowedTest, OnlyPlainAddressesWithoutRoutesMatch) {
  const std::vector<std::string> entries = {"@dom.example", "x%y@site.example"};
  const struct {
    const char* address;
    bool allowed;
  } cases[] = {
      {"evil.one+tag@dom.example", true},
      {"\"evil@evil.example\"@dom.example", false},
      {"evil%evil.example@dom.example", false},
      {"evil!evil.example@dom.example", false},
      {"evil@evil.example(x)@dom.example", false},
      {"evil@evil.example, x@dom.example", false},
      {"evil@evil.example x@dom.example", false},
      {"x%y@site.example", true},  // named whole by the administrator
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RecipientAllowed(c.address, entries), c.allowed) << c.address;
  }
}

}  // namespace
}  // namespace veltrano
