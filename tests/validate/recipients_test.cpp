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

}  // namespace
}  // namespace veltrano
