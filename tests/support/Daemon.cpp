#include "tests/support/Daemon.h"

#ifndef ZEVA_DAEMON_PATH
#error "ZEVA_DAEMON_PATH must name the zeva-rotator binary"
#endif

namespace testing_support {

std::string Daemon::BinaryPath() { return ZEVA_DAEMON_PATH; }

bool Daemon::Start(const std::vector<std::string>& args, bool waitRunning,
                   int timeoutMs) {
  std::vector<std::string> argv = {BinaryPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  if (!ChildProcess::Start(argv)) return false;
  if (!waitRunning) return true;
  return WaitForStdout("ZEVA Rotator CLI running. Press Ctrl+C to stop.",
                       timeoutMs);
}

}  // namespace testing_support
