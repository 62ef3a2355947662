// RotatorTimer gives a rotator one thread of its own that calls a callback
// after a delay, once (one-shot) or again and again (repeating). It is created
// disarmed; Start arms it.
//
// Ownership: each Rotator owns one timer through a unique pointer; the
// callback captures only the rotator's address.
//
// Threads: Start and Stop may be called from any thread, including from the
// callback itself. The callback runs on the timer's own thread without the
// mutex held. The destructor must not run on the timer thread; it waits for a
// running callback to finish.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class RotatorTimer {
 public:
  explicit RotatorTimer(std::function<void()> callback);
  ~RotatorTimer();
  RotatorTimer(const RotatorTimer&) = delete;
  RotatorTimer& operator=(const RotatorTimer&) = delete;

  // Arms the timer. A Start during a wait keeps that wait's deadline; the new
  // interval and kind apply to the next wait. An interval of 0 or less
  // disarms the timer quietly.
  void Start(int intervalMs, bool oneShot);
  void Stop();

  // Ends the thread, waiting for a running callback; the destructor does the
  // same. Idempotent. Must not be called from the callback.
  void Shutdown();

 private:
  void Run();

  // Constant after construction.
  std::function<void()> callback;
  std::thread thread;

  // State below is protected by mutex.
  std::mutex mutex;
  std::condition_variable condition;
  bool armed = false;
  bool quit = false;
  int32_t intervalMs = 0;
  bool oneShot = false;
};
