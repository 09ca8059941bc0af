// Checks that a step failed and what page the visitor gets for it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "model/result.hpp"
#include "response/catalogue.hpp"

namespace veltrano::testing {

// Succeeds when `result` is a failure of `kind` whose page has exactly this
// title (none: no title line) and message.
template <typename T>
::testing::AssertionResult FailsWithPage(const Result<T>& result, FailureKind kind,
                                         const std::optional<std::string>& title,
                                         std::string_view message) {
  if (result.ok()) return ::testing::AssertionFailure() << "no failure";
  const Failure& failure = result.failure();
  PageText page = PageFor(failure);
  if (failure.kind == kind && page.title == title && page.message == message) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "kind " << static_cast<int>(failure.kind) << " (want " << static_cast<int>(kind)
         << ")\n title: " << page.title.value_or("(none)") << "\n message: " << page.message;
}

}  // namespace veltrano::testing
