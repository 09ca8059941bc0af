// The rate limit's state update, apart from its file, for its tests.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/template.hpp"

namespace veltrano {

// The state after counting (or refusing) one submission, and the verdict.
struct RateUpdate {
  std::string state;
  bool refused = false;
  std::size_t droppedLines = 0;
};
RateUpdate UpdateRateState(std::string_view state, const RateLimit& limit, std::string_view client,
                           long long now);

// True for content the limiter may rewrite: empty, or a state line first.
bool IsRateState(std::string_view content);

}  // namespace veltrano
