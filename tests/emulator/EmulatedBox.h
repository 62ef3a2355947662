// One emulated controller box: the zeva-boxsim program run as a child
// process. Its first line on standard output is the pseudo-terminal device
// to give to CONFIGURE; its log (standard error, traffic traced with -v)
// goes to a temporary file the test can read and wait on. Only this child
// is ever signalled, by its process id.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace emulator_test {

class EmulatedBox {
 public:
  EmulatedBox() = default;
  ~EmulatedBox() { Stop(); }
  EmulatedBox(const EmulatedBox&) = delete;
  EmulatedBox& operator=(const EmulatedBox&) = delete;

  // Runs zeva-boxsim --model MODEL -v OPTIONS... and waits (up to
  // timeoutMs) for the device path. False when the program fails to start
  // or prints no path; Log() then tells why.
  bool Start(const std::string& model, const std::vector<std::string>& options,
             int timeoutMs = 5000);

  const std::string& Device() const { return device; }
  pid_t Pid() const { return child.Pid(); }
  bool Running() const { return child.Running(); }

  // The emulator's log so far.
  std::string Log() const { return child.Stderr(); }
  bool WaitForLog(const std::string& text, int timeoutMs) const {
    return child.WaitForStderr(text, timeoutMs);
  }
  size_t CountLog(const std::string& text) const {
    return child.CountStderr(text);
  }

  // Waits for the program to end by itself. Its exit status, -1 on
  // timeout, -2 when a signal ended it.
  int WaitExit(int timeoutMs) { return child.Wait(timeoutMs); }

  // SIGTERM, up to 2 s for the program to end, then SIGKILL. Returns the
  // exit status as WaitExit does, or -3 when it was not running.
  int Stop() { return child.Stop(2000); }

  static std::string BinaryPath();

 private:
  testing_support::ChildProcess child;
  std::string device;
};

}  // namespace emulator_test
