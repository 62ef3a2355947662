// The real zeva-rotator binary, started by a test as a child process with its
// standard output and error captured in files (see ChildProcess). Only this
// child is ever signalled, by its process id; the destructor SIGKILLs it if
// it still runs.
#pragma once

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace testing_support {

class Daemon : public ChildProcess {
 public:
  // Starts the binary with the given arguments. Waits (up to timeoutMs) for
  // the "running" line when waitRunning is set.
  bool Start(const std::vector<std::string>& args = {}, bool waitRunning = true,
             int timeoutMs = 5000);

  static std::string BinaryPath();
};

}  // namespace testing_support
