// Time-outs that span several waits: a deadline on the monotonic clock, and
// what is left of it for the next wait.
#ifndef POSTRUNNER_PLATFORM_DEADLINE_H_
#define POSTRUNNER_PLATFORM_DEADLINE_H_

#include <chrono>

namespace postrunner {

// Milliseconds left until `deadline`, never negative.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace postrunner

#endif  // POSTRUNNER_PLATFORM_DEADLINE_H_
