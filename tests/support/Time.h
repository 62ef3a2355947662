// Time helpers shared by the tests: deadlines on the steady clock, waiting
// for a condition, sleeping.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

using Clock = std::chrono::steady_clock;

// Milliseconds until `deadline`, never negative.
inline int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

inline long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               Clock::now() - start)
                               .count());
}

inline void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Polls `condition` every 5 ms until it holds or timeoutMs has passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    SleepMs(5);
  }
}

}  // namespace testing_support
