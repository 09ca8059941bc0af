// Shared pieces of the fuzz targets: the in-memory platform of the unit
// tests (tests/support/fake_system.hpp) and the way a target reports a
// broken invariant.
#pragma once

#include <cstdlib>

#include "support/fake_system.hpp"

namespace veltrano::fuzz {

// A broken invariant: the fuzzer reports the abort with its input.
[[noreturn]] inline void Fail() {
  std::abort();
}

}  // namespace veltrano::fuzz
