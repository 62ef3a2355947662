// Helpers shared by the core unit tests: capturing the log while it is being
// written, waiting for a condition, counting this process's threads, and a
// thread-safe recorder of callback values.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TcpClient.h"

namespace core_test {

using Clock = std::chrono::steady_clock;

inline long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               Clock::now() - start)
                               .count());
}

// Polls `condition` every 5 ms until it holds or timeoutMs has passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

inline void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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

// Redirects file descriptors 1 and 2 into temporary files for its lifetime,
// so that log lines from every thread can be read while the test runs. When
// the test has failed, what was captured is echoed to the real streams on
// destruction (gtest's own failure messages are among it).
class LogCapture {
 public:
  LogCapture() {
    out.Begin(STDOUT_FILENO, stdout);
    err.Begin(STDERR_FILENO, stderr);
  }
  ~LogCapture() {
    std::string capturedOut = Out();
    std::string capturedErr = Err();
    out.End(stdout);
    err.End(stderr);
    if (::testing::Test::HasFailure()) {
      std::cout << "---- captured stdout ----\n"
                << capturedOut << "---- captured stderr ----\n"
                << capturedErr << "-------------------------" << std::endl;
    }
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything written so far. The daemon flushes each line as it writes it,
  // so no flush is done here: a line that is missing was not flushed.
  std::string Out() const { return out.Read(); }
  std::string Err() const { return err.Read(); }

  std::vector<std::string> OutLines() const { return Lines(Out()); }
  std::vector<std::string> ErrLines() const { return Lines(Err()); }

  // Lines on standard output equal to `line`.
  size_t CountOut(const std::string& line) const { return Count(OutLines(), line); }
  size_t CountErr(const std::string& line) const { return Count(ErrLines(), line); }

  bool WaitForOut(const std::string& line, int timeoutMs, size_t times = 1) const {
    return WaitUntil([&] { return CountOut(line) >= times; }, timeoutMs);
  }
  bool WaitForErr(const std::string& line, int timeoutMs, size_t times = 1) const {
    return WaitUntil([&] { return CountErr(line) >= times; }, timeoutMs);
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
      std::string::size_type end = text.find('\n', start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start));
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

 private:
  static size_t Count(const std::vector<std::string>& lines,
                      const std::string& line) {
    size_t n = 0;
    for (const auto& l : lines)
      if (l == line) ++n;
    return n;
  }

  struct Stream {
    int fd = -1;
    int saved = -1;
    std::string path;

    void Begin(int which, FILE* stream) {
      fflush(stream);
      char name[] = "/tmp/zeva-core-log-XXXXXX";
      int file = mkstemp(name);
      if (file < 0) return;
      path = name;
      fd = which;
      saved = dup(which);
      dup2(file, which);
      close(file);
    }
    void End(FILE* stream) {
      if (saved < 0) return;
      fflush(stream);
      dup2(saved, fd);
      close(saved);
      saved = -1;
      unlink(path.c_str());
    }
    std::string Read() const {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      return text.str();
    }
  };
  Stream out;
  Stream err;
};

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
