#include "tests/bridge/RotctlClient.h"

#include <chrono>
#include <random>
#include <sstream>

#include "tests/support/ChildProcess.h"

namespace bridge_test {

namespace {
using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
}  // namespace

int FreePortPair() {
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> pick(20000, 29990);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = pick(random);
    if (testing_support::PortIsFree(port) && testing_support::PortIsFree(port + 2)) return port;
  }
  return 0;
}

std::string Rotctl(int port, const std::vector<std::string>& command) {
  std::vector<std::string> argv = {testing_support::ChildProcess::FindInPath("rotctl"), "-m", "2", "-r",
                                   "127.0.0.1:" + std::to_string(port)};
  if (argv[0].empty()) return "rotctl not found: install Debian's libhamlib-utils";
  argv.insert(argv.end(), command.begin(), command.end());
  std::string output, line, result;
  int status = testing_support::ChildProcess::Run(argv, 20000, output);
  std::istringstream lines(output);
  while (std::getline(lines, line)) {
    if (line.find("read_string_generic") == std::string::npos) result += line + "\n";
  }
  return std::to_string(status) + ": " + result;
}

std::string RotctlClient::ReadLine(int timeoutMs) {
  std::string line = connection.ReadLineEndedBy('\n', timeoutMs);
  // No whole line in time (or the connection ended): what came of it.
  return line.empty() ? connection.TakePending() : line;
}

std::string RotctlClient::Ask(const std::string& command, int lines, int timeoutMs) {
  if (!Send(command + "\n")) return "";
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string answer;
  for (int i = 0; i < lines; ++i) {
    std::string line = ReadLine(MsLeft(deadline));
    answer += line;
    // An incomplete line, or a result code, ends the answer.
    if (line.empty() || line.back() != '\n' || line.compare(0, 5, "RPRT ") == 0) break;
  }
  return answer;
}

}  // namespace bridge_test
