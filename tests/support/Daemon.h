// The real zeva-rotator binary, started by a test as a child process with its
// standard output and error captured in files. Only this child is ever
// signalled, by its process id.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class Daemon {
 public:
  Daemon() = default;
  ~Daemon();  // SIGKILLs the child if it still runs
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Starts the binary with the given arguments. Waits (up to timeoutMs) for
  // the "running" line when waitRunning is set.
  bool Start(const std::vector<std::string>& args = {}, bool waitRunning = true,
             int timeoutMs = 5000);
  pid_t Pid() const { return pid; }

  bool Signal(int signal);
  // Waits for the child to exit; returns its exit status, or -1 on timeout
  // (or -2 when it died from a signal).
  int Wait(int timeoutMs);

  std::string Stdout() const;
  std::string Stderr() const;
  // Waits until standard output (or error) holds `text`.
  bool WaitForStdout(const std::string& text, int timeoutMs) const;
  bool WaitForStderr(const std::string& text, int timeoutMs) const;
  // Counts the occurrences of `text` in standard output.
  size_t CountStdout(const std::string& text) const;

  static std::string BinaryPath();

 private:
  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
};

}  // namespace testing_support
