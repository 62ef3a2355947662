// Captures what the code under test logs in-process, from construction to destruction:
// standard output and error are redirected, at the descriptor level, into pipes a reader
// thread each drains, so lines written by any thread can be read and waited for. A failed
// test prints what was captured. Reading never flushes stdio: an unflushed line is missing,
// as it would be from the daemon's log.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything so far, or what came since the previous call of the same New.
  std::string Out() const { return Text(out, false); }
  std::string Err() const { return Text(err, false); }
  std::string NewOut() { return Text(out, true); }
  std::string NewErr() { return Text(err, true); }

  // Whole lines of standard output equal to `line`.
  size_t CountOut(const std::string& line) const;
  // Waits until `line` has been written as a whole line `times` times.
  bool WaitForOut(const std::string& line, int timeoutMs, size_t times = 1) const;

  // The lines of `text`; a last line without its line feed is included.
  static std::vector<std::string> Lines(const std::string& text);

 private:
  struct Stream {
    Stream(FILE* f, int descriptor) : file(f), fd(descriptor) {}
    FILE* file;
    int fd;
    int saved = -1;    // the original descriptor, while capturing
    int readEnd = -1;  // pipe end read by `reader`
    std::thread reader;
    std::string text;  // guarded by mutex
    size_t taken = 0;  // how much of text a New*() call has handed out
  };

  void Start(Stream& stream);
  void Stop(Stream& stream);
  void ReadLoop(Stream& stream);
  std::string Text(Stream& stream, bool fresh) const;

  mutable Stream out{stdout, 1};
  mutable Stream err{stderr, 2};
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  mutable unsigned syncCount = 0;
};

}  // namespace testing_support
