#include "check/closest.hpp"

#include <gtest/gtest.h>

namespace veltrano::check {
namespace {

TEST(ClosestTest, NamesTheLikelyOriginalOfATypo) {
  const std::vector<std::string_view> known = {"name", "email", "message", "to", "REMOTE_ADDR"};
  const struct {
    std::string name;
    std::optional<std::string> want;
  } cases[] = {
      {"mesage", "message"},  // one dropped
      {"nmae", "name"},       // neighbours swapped: one edit
      {"Emial", "email"},     // case ignored
      {"remote_adr", "REMOTE_ADDR"},
      {"messages", "message"},  // one added
      {"mssge", "message"},     // two edits
      {"msg", std::nullopt},    // four
      {"x", std::nullopt},      // "to" is two edits, as long as the name itself
      {"email", std::nullopt},  // known: nothing to suggest
      {std::string(100000, '$'), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(Closest(c.name, known), c.want) << c.name.substr(0, 20);
}

}  // namespace
}  // namespace veltrano::check
