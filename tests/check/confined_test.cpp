#include "check/confined.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <new>
#include <stdexcept>

#include "check/check.hpp"
#include "support/fake_system.hpp"

namespace veltrano::check {
namespace {

std::string Lines(const Findings& findings) {
  std::string lines;
  for (const Finding& f : findings.list())
    lines += static_cast<char>(f.kind) + (" " + f.text) + "\n";
  return lines;
}

// What the checking process found reaches the caller; a check that ends
// early keeps what it found before and says why it ended.
TEST(RunConfinedTest, FindingsAndHowTheCheckEnded) {
  const struct {
    const char* name;
    std::function<void(Findings&)> work;
    std::string want;
  } cases[] = {
      {"findings",
       [](Findings& out) {
         out.Error("an error");
         out.Warning("a warning\nover two lines");
       },
       "E an error\nW a warning\nover two lines\n"},
      {"out_of_memory",
       [](Findings& out) {
         out.Error("found first");
         throw std::bad_alloc();
       },
       "E found first\nU could not be checked: out of memory\n"},
      {"exception", [](Findings&) { throw std::runtime_error("what went wrong"); },
       "U could not be checked: what went wrong\n"},
      {"killed", [](Findings&) { ::raise(SIGKILL); },
       "U could not be checked: the checking process ended: killed by signal 9\n"},
      {"out_of_time", [](Findings&) { ::pause(); },
       "U could not be checked: the checking process ended: stopped after 300 ms\n"},
      {"flood",
       [](Findings& out) {
         for (std::size_t n = 0; n * 1000 <= kMaxFindingsBytes; ++n) {
           out.Warning(std::string(1000, 'w'));
         }
       },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Findings findings = RunConfined(
        {}, c.work, platform::ChildLimits{std::chrono::milliseconds(300), std::chrono::seconds(1)});
    if (c.want.empty()) {
      EXPECT_EQ(
          findings.list().back().text,
          "could not be checked: over " + std::to_string(kMaxFindingsBytes) + " bytes of findings");
    } else {
      EXPECT_EQ(Lines(findings), c.want);
    }
  }
}

TEST(CheckingEnvironmentTest, TheWebServersPathTheUserAndWhatPgpReads) {
  testing::MapEnvironment given;
  given.vars = {{"TMP", "/t"}, {"GNUPGHOME", "/g"}, {"LD_PRELOAD", "/evil.so"}, {"PATH", "/x"}};
  EXPECT_EQ(CheckingEnvironment({"www-data", 33, 33, "/var/www"}, given),
            (std::vector<std::string>{"PATH=" + std::string(kWebServerPath), "HOME=/var/www",
                                      "USER=www-data", "TMP=/t", "GNUPGHOME=/g"}));
}

}  // namespace
}  // namespace veltrano::check
