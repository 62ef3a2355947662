// Captures what the code under test logs in-process: standard output and
// standard error are redirected, at the descriptor level, into pipes that a
// reader thread each drains, so lines written by any thread can be read and
// waited for while the test runs. Capturing lasts from construction to
// Stop() or destruction; when the running test has failed by then, what was
// captured is printed to the real standard error (gtest's own failure
// messages are among it).
//
// Reading never flushes a stdio buffer: a line that was written but not
// flushed is missing, as it would be from the daemon's log.
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

  // Restores both descriptors and collects what is left. Idempotent.
  void Stop();

  // Everything captured so far.
  std::string Out() const { return All(out); }
  std::string Err() const { return All(err); }
  // What was captured since the previous call of the same function.
  std::string NewOut() { return Fresh(out); }
  std::string NewErr() { return Fresh(err); }

  std::vector<std::string> OutLines() const { return Lines(Out()); }
  std::vector<std::string> ErrLines() const { return Lines(Err()); }
  // Whole lines equal to `line`.
  size_t CountOut(const std::string& line) const { return CountLines(Out(), line); }
  size_t CountErr(const std::string& line) const { return CountLines(Err(), line); }
  // Waits until `line` has been written as a whole line `times` times.
  bool WaitForOut(const std::string& line, int timeoutMs, size_t times = 1) const {
    return WaitFor(out, line, timeoutMs, times);
  }
  bool WaitForErr(const std::string& line, int timeoutMs, size_t times = 1) const {
    return WaitFor(err, line, timeoutMs, times);
  }

  // The lines of `text`; a last line without its line feed is included.
  static std::vector<std::string> Lines(const std::string& text);
  // How many lines of `text` ended by a line feed equal `line`.
  static size_t CountLines(const std::string& text, const std::string& line);

 private:
  struct Stream {
    Stream(FILE* f, int descriptor) : file(f), fd(descriptor) {}
    FILE* file;
    int fd;
    int saved = -1;    // the original descriptor, while capturing
    int readEnd = -1;  // pipe end read by `reader`
    std::thread reader;
    std::string text;  // guarded by mutex
    size_t taken = 0;  // how much of text Fresh has handed out
  };

  void StartStream(Stream& stream);
  void StopStream(Stream& stream);
  void ReadLoop(Stream& stream);
  void Sync(Stream& stream) const;
  std::string All(Stream& stream) const;
  std::string Fresh(Stream& stream);
  bool WaitFor(Stream& stream, const std::string& line, int timeoutMs,
               size_t times) const;

  mutable Stream out{stdout, 1};
  mutable Stream err{stderr, 2};
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  mutable unsigned syncCount = 0;
  bool capturing = false;
};

}  // namespace testing_support
