// Shared pieces of the fuzz targets: an in-memory request and the rule that
// a fatal page is an expected outcome, never a crash.
#pragma once

#include <exception>
#include <string>

#include "driver/request_context.hpp"
#include "response/response.hpp"
#include "support/fake_system.hpp"

namespace veltrano::fuzz {

// A request with an in-memory platform, as the unit tests use it.
struct Request {
  testing::FakeSystem fake;
  RequestContext ctx{fake.system};
};

// Runs `step`; a fatal page or an ended request is a normal end of it.
// Returns false when the step ended that way.
template <typename Step>
bool RunStep(Step&& step) {
  try {
    step();
    return true;
  } catch (const FatalError&) {
    return false;
  } catch (const RequestEnded&) {
    return false;
  }
}

// A broken invariant: the fuzzer reports the abort with its input.
[[noreturn]] inline void Fail() {
  std::abort();
}

}  // namespace veltrano::fuzz
