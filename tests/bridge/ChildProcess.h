// A program started by a test (zeva-boxsim, zeva-rotctl-bridge, rotctl) with
// its standard output and error captured in files. Only this child is ever
// signalled, by its process id; the destructor SIGKILLs it if it still runs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bridge_test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program: a path, or a name looked up in PATH.
  bool Start(const std::vector<std::string>& argv);
  pid_t Pid() const { return pid; }
  bool Running() const { return pid > 0; }

  bool Signal(int signal);
  // Waits for the exit; returns the exit status, -1 on time-out, -2 when a
  // signal ended it.
  int Wait(int timeoutMs);

  std::string Stdout() const;
  std::string Stderr() const;
  bool WaitForStdout(const std::string& text, int timeoutMs) const;
  bool WaitForStderr(const std::string& text, int timeoutMs) const;
  size_t CountStderr(const std::string& text) const;

  // The first line of standard output once it is complete ("" on time-out).
  std::string FirstStdoutLine(int timeoutMs) const;

  // Runs argv to its end (killed after timeoutMs); returns the exit status
  // as Wait() does, and standard output followed by standard error in `output`.
  static int Run(const std::vector<std::string>& argv, int timeoutMs, std::string& output);

  // The full path of `name` found in PATH, or "".
  static std::string FindInPath(const std::string& name);

 private:
  pid_t pid = -1;
  std::string outPath;
  std::string errPath;
};

}  // namespace bridge_test
