// Deadlines on the steady clock, waiting for a condition, sleeping.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Milliseconds until `deadline`, never negative.
inline int MsLeft(Clock::time_point deadline) {
  return static_cast<int>(std::max(0L, -MsSince(deadline)));
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Polls `condition` every 5 ms until it holds or timeoutMs has passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  for (auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);; SleepMs(5)) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
  }
}

}  // namespace testing_support
