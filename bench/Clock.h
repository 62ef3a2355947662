// Time for the benchmark: one monotonic clock in nanoseconds, shared by every
// thread of the benchmark, so that a time stamp taken on the box side and one
// taken on the client side can be subtracted.
#pragma once

#include <time.h>

#include <cstdint>

namespace bench {

inline int64_t NowNs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

inline double NsToMs(int64_t ns) { return static_cast<double>(ns) / 1e6; }

inline void SleepMs(double ms) {
  if (ms <= 0) return;
  struct timespec wait;
  const int64_t ns = static_cast<int64_t>(ms * 1e6);
  wait.tv_sec = static_cast<time_t>(ns / 1000000000);
  wait.tv_nsec = static_cast<long>(ns % 1000000000);
  while (nanosleep(&wait, &wait) != 0) {
  }
}

}  // namespace bench
