#include "tests/station/Rotctl.h"

#include <random>
#include <sstream>

#include "tests/support/ChildProcess.h"
#include "tests/support/Time.h"

namespace station_test {

using namespace testing_support;

int FreePorts(int count) {
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<int> pick(20000, 29900);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = pick(random);
    bool free = true;
    for (int i = 0; i < count && free; ++i) free = PortIsFree(port + 2 * i);
    if (free) return port;
  }
  return 0;
}

std::string Rotctl(int port, const std::vector<std::string>& command) {
  std::vector<std::string> argv = {"rotctl", "-m", "2", "-r", "127.0.0.1:" + std::to_string(port)};
  argv.insert(argv.end(), command.begin(), command.end());
  ChildProcess rotctl;  // not found: install Debian's libhamlib-utils
  int status = rotctl.Start(argv) ? rotctl.Wait(20000) : -1;
  std::istringstream lines(rotctl.Stdout() + rotctl.Stderr());
  std::string line, result;
  while (std::getline(lines, line)) {
    if (line.find("read_string_generic") == std::string::npos) result += line + "\n";
  }
  return std::to_string(status) + ": " + result;
}

std::string Ask(TcpClient& client, const std::string& command, int lines, int timeoutMs) {
  if (!client.Send(command + "\n")) return "";
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string answer;
  for (int i = 0; i < lines; ++i) {
    std::string line = client.ReadLineEndedBy('\n', MsLeft(deadline));
    // An incomplete line (what came of it is the answer's end), or a result
    // code, ends the answer.
    if (line.empty()) return answer + client.TakePending();
    answer += line;
    if (line.compare(0, 5, "RPRT ") == 0) break;
  }
  return answer;
}

}  // namespace station_test
