// A program started by a test (the daemon, zeva-boxsim, zeva-station,
// rotctl) with standard input from /dev/null and its standard output and
// error captured in temporary files the test can read and wait on. Only this
// child is ever signalled, by its process id; the destructor SIGKILLs it if
// it still runs and removes the files.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class ChildProcess {
 public:
  // Which of the test's open descriptors the child keeps.
  enum class Descriptors {
    kInherit,    // all of them, as fork() leaves them
    kStdioOnly,  // none: the test's sockets and pty masters are closed
  };

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0]: a path or a name in PATH. False when a child still runs or none can be
  // started; a program that cannot be run exits with status 127, saying so.
  bool Start(const std::vector<std::string>& argv,
             Descriptors descriptors = Descriptors::kInherit);
  pid_t Pid() const { return pid; }
  // The child's open descriptors, or -1 where /proc does not list them.
  int OpenDescriptors() const;

  bool Signal(int signal);
  // Waits for the exit; returns the exit status, -1 on time-out (or when
  // nothing runs), -2 when a signal ended it.
  int Wait(int timeoutMs);
  // SIGTERM, up to graceMs for the exit, then SIGKILL. Returns the status
  // as Wait() does, or -3 when nothing was running.
  int Stop(int graceMs);

  std::string Stdout() const;
  std::string Stderr() const;
  bool WaitForStdout(const std::string& text, int timeoutMs) const;
  bool WaitForStderr(const std::string& text, int timeoutMs) const;

  // The first whole line of standard output, without its line feed; "" on time-out or end.
  std::string FirstStdoutLine(int timeoutMs) const;

 private:
  // True when the child has exited (it is not reaped: Wait() still is).
  bool Ended() const;
  void Kill();  // SIGKILL and reap
  void RemoveFiles();

  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
};

// The occurrences of `text` in `all` (in a child's output, say).
size_t Count(const std::string& all, const std::string& text);

// The real zeva-rotator binary.
class Daemon : public ChildProcess {
 public:
  // Starts it with `args`; with waitRunning, waits up to 5 s for its "running" line.
  bool Start(const std::vector<std::string>& args = {}, bool waitRunning = true);
  static std::string BinaryPath();
};

}  // namespace testing_support
