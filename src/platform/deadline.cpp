#include "platform/deadline.hpp"

#include <climits>

namespace veltrano::platform {

int Deadline::MillisecondsLeft() const {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(at_ - Clock::now()).count();
  if (left < 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

}  // namespace veltrano::platform
