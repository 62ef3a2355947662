// What the unit tests share: a recorder of values from callbacks on other
// threads, this process's thread count, and terminal settings.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/support/Time.h"

namespace testing_support {

template <typename T>
class Recorder {
 public:
  void Add(const T& value) {
    std::lock_guard<std::mutex> lock(mutex);
    values.push_back(value);
    changed.notify_all();
  }
  std::vector<T> Values() const {
    std::lock_guard<std::mutex> lock(mutex);
    return values;
  }
  size_t Size() const { return Values().size(); }
  bool WaitForSize(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return values.size() >= n; });
  }

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<T> values;
};

// This process's threads as GoogleTest counts them (procfs on Linux, sysctl
// on FreeBSD); 0 where the platform offers no count.
inline int ThreadCount() {
  return static_cast<int>(::testing::internal::GetThreadCount());
}

// A joined thread may linger in the count for a moment.
inline bool ThreadsBackTo(int baseline, int timeoutMs = 2000) {
  return WaitUntil([&] { return ThreadCount() == baseline; }, timeoutMs);
}

// Settings unlike the serial link's, to see it replace them and write them
// back. (A Linux pty keeps CS8 and CREAD and drops PARENB whatever it is told.)
inline struct termios DistinctiveSettings(struct termios t) {
  t.c_iflag = ICRNL | IXON | ISTRIP;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS8 | CSTOPB | CREAD | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG;
  t.c_cc[VMIN] = 5;
  t.c_cc[VTIME] = 3;
  cfsetispeed(&t, B2400);
  cfsetospeed(&t, B2400);
  return t;
}

inline bool SameSettings(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
         cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

}  // namespace testing_support
