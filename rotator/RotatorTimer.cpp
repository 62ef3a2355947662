#include "rotator/RotatorTimer.h"

#include <chrono>

RotatorTimer::RotatorTimer(std::function<void()> timerCallback)
    : callback(std::move(timerCallback)) {
  // Started here, after every member exists.
  thread = std::thread(&RotatorTimer::Run, this);
}

RotatorTimer::~RotatorTimer() { Shutdown(); }

void RotatorTimer::Shutdown() {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex);
    armed = false;
    quit = true;
  }
  condition.notify_all();
  if (thread.joinable()) thread.join();
}

void RotatorTimer::Start(int interval, bool once) {
  std::lock_guard<std::mutex> lock(mutex);
  intervalMs = interval;
  oneShot = once;
  armed = true;
  condition.notify_all();
}

void RotatorTimer::Stop() {
  std::lock_guard<std::mutex> lock(mutex);
  armed = false;
  condition.notify_all();
}

void RotatorTimer::Run() {
  std::unique_lock<std::mutex> lock(mutex);
  while (!quit) {
    condition.wait(lock, [this] { return armed || quit; });
    if (quit) return;

    if (intervalMs <= 0) {
      armed = false;  // disarms itself quietly, without a call
      continue;
    }

    // The interval and kind taken now hold for this wait, whatever a Start
    // during it sets.
    const int32_t interval = intervalMs;
    const bool once = oneShot;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(interval);
    bool expired = !condition.wait_until(
        lock, deadline, [this] { return quit || !armed; });
    if (!expired) continue;  // quit or disarmed: no call

    if (once) armed = false;  // before the call, so a re-arm inside it holds
    lock.unlock();
    if (callback) callback();  // constant after construction: no copy needed
    lock.lock();
  }
}
