#include "Link.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

Link::Result Link::ReadLine(std::string& line, int timeoutMs, const volatile sig_atomic_t* interrupted) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (TakeBufferedLine(line)) return Result::Line;
    if (Fd() < 0) return Result::Closed;
    if (interrupted != nullptr && *interrupted) return Result::Interrupted;
    int wait = 100;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Result::Timeout;
      if (left < wait) wait = static_cast<int>(left);
    }
    struct pollfd waiter = {Fd(), POLLIN, 0};
    int ready = poll(&waiter, 1, wait);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Result::Error;
    }
    if (ready > 0 && !Fill()) return Result::Closed;
  }
}
