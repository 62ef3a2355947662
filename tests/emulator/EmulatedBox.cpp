#include "tests/emulator/EmulatedBox.h"

#ifndef ZEVA_BOXSIM_PATH
#error "ZEVA_BOXSIM_PATH must name the zeva-boxsim binary"
#endif

namespace emulator_test {

using testing_support::ChildProcess;

std::string EmulatedBox::BinaryPath() { return ZEVA_BOXSIM_PATH; }

bool EmulatedBox::Start(const std::string& model,
                        const std::vector<std::string>& options,
                        int timeoutMs) {
  std::vector<std::string> argv = {BinaryPath(), "--model", model, "-v"};
  argv.insert(argv.end(), options.begin(), options.end());
  // The box must not keep the test's sockets or pty masters open.
  if (!child.Start(argv, ChildProcess::Descriptors::kStdioOnly)) return false;
  // Nothing but the path is ever written to standard output.
  device = child.FirstStdoutLine(timeoutMs);
  return device.compare(0, 5, "/dev/") == 0;
}

}  // namespace emulator_test
