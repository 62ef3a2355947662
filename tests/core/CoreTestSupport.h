// Helpers shared by the core unit tests: counting this process's threads, a
// thread-safe recorder of callback values and terminal settings to compare.
// Log capture and the time helpers come from tests/support.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/TcpClient.h"
#include "tests/support/Time.h"

namespace core_test {

using testing_support::Clock;
using testing_support::LogCapture;
using testing_support::MsSince;
using testing_support::SleepMs;
using testing_support::WaitUntil;

// Number of threads of this process (entries of /proc/self/task).
inline int ThreadCount() {
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  int count = 0;
  while (struct dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count;
}

// The thread count to come back to. A thread is started and joined first,
// because some runtimes (ThreadSanitizer's) add a helper thread of their own
// when the first thread is created.
inline int ThreadBaseline() {
  std::thread([] {}).join();
  SleepMs(10);
  return ThreadCount();
}

// True once the thread count is back at `baseline` (an exiting thread may
// linger in /proc for a moment after it has been joined).
inline bool ThreadsBackTo(int baseline, int timeoutMs = 1000) {
  return WaitUntil([&] { return ThreadCount() == baseline; }, timeoutMs);
}

// The port check every test of port 13020 starts with. Other engineers' test
// runs on this machine may hold the port for a moment, so it is given a few
// seconds to come free before the test fails.
inline bool DaemonPortIsFree() {
  return WaitUntil([] { return testing_support::PortIsFree(); }, 10000);
}

// Collects values handed over by callbacks on other threads.
template <typename T>
class Recorder {
 public:
  void Add(const T& value) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      values.push_back(value);
    }
    changed.notify_all();
  }
  std::vector<T> Values() const {
    std::lock_guard<std::mutex> lock(mutex);
    return values;
  }
  size_t Size() const {
    std::lock_guard<std::mutex> lock(mutex);
    return values.size();
  }
  // Waits until at least n values are in.
  bool WaitForSize(size_t n, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return values.size() >= n; });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex);
    values.clear();
  }

 private:
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<T> values;
};

// Terminal settings unlike anything the serial link sets: used to check that
// the link replaces them while open and writes them back on close. (A Linux
// pty always keeps CS8 and CREAD and drops PARENB, so those cannot serve.)
inline struct termios DistinctiveSettings(const struct termios& base) {
  struct termios t = base;
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

// The fields that matter for a serial box.
inline bool SameSettings(const struct termios& a, const struct termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag &&
         a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME] &&
         cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// Whether this platform's ptys keep a character size of seven bits (a Linux
// pty forces eight, so the link's CS7 cannot be seen there).
inline bool PtyKeepsSevenDataBits(const std::string& slavePath) {
  int fd = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  struct termios saved, t;
  bool kept = false;
  if (tcgetattr(fd, &saved) == 0) {
    t = saved;
    t.c_cflag = (t.c_cflag & ~CSIZE) | CS7;
    kept = tcsetattr(fd, TCSANOW, &t) == 0 && tcgetattr(fd, &t) == 0 &&
           (t.c_cflag & CSIZE) == CS7;
    tcsetattr(fd, TCSANOW, &saved);
  }
  close(fd);
  return kept;
}

}  // namespace core_test
