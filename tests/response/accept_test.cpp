#include "response/accept.hpp"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(PrefersJsonTest, NamedJsonRankedAtLeastAsHighAsHtml) {
  const struct {
    const char* accept;
    bool want;
  } cases[] = {
      {"application/json", true},
      {"Application/JSON", true},
      {"application/json;charset=utf-8", true},
      {"application/json, text/plain, */*", true},  // axios
      {"application/json, */*;q=0.1", true},
      {"text/html;q=0.9, application/json", true},
      {"text/html, application/json", true},  // html no higher: a tie answers JSON
      {"application/json;q=0.5, text/*;q=0.4", true},
      {" application/json ; q=0.001 ", true},
      {"application/json;q=1.000", true},
      // Browsers and fetch()'s default keep the page.
      {"text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,*/*;q=0.8", false},
      {"*/*", false},
      {"application/*", false},
      {"", false},
      // text/html ranked higher, directly or through a wildcard.
      {"application/json;q=0.5, text/html", false},
      {"application/json;q=0.5, text/*", false},
      {"application/json;q=0.5, */*", false},
      {"application/json;q=0.5, text/html;q=0.1, */*", true},  // the most specific range counts
      // A weight of 0 is "not acceptable".
      {"application/json;q=0", false},
      {"application/json;q=0.000, text/html;q=0", false},
      // The first of several ranges of one kind counts.
      {"application/json;q=0, application/json", false},
      // Elements that can't be read are skipped.
      {"application/json;q=2", false},
      {"application/json;q=1.5", false},
      {"application/json;q=0.1234", false},
      {"application/json;q=.5", false},
      {"application/json;q=", false},
      {"application/json;q=abc, application/json", true},
      {"application/json; q = 0.5", true},  // no weight: the parameter is ignored
      {",,;,application/json,,", true},
  };
  for (const auto& c : cases) EXPECT_EQ(PrefersJson(c.accept), c.want) << c.accept;
}

}  // namespace
}  // namespace veltrano
