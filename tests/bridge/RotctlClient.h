// A rotctld-protocol client on loopback, as the bridge tests use it: sends
// command lines ended by a line feed and reads the answer lines.
#pragma once

#include <string>

namespace bridge_test {

class RotctlClient {
 public:
  RotctlClient() = default;
  ~RotctlClient();
  RotctlClient(const RotctlClient&) = delete;
  RotctlClient& operator=(const RotctlClient&) = delete;

  // Connects to 127.0.0.1:port, retrying for up to timeoutMs.
  bool Connect(int port, int timeoutMs = 5000);
  void Close();
  bool Send(const std::string& bytes);

  // Sends `command` and a line feed, then reads `lines` answer lines; returns
  // them as sent (each with its line feed), fewer when the time runs out.
  std::string Ask(const std::string& command, int lines, int timeoutMs = 5000);
  // The next line (with its line feed), or what came of it within timeoutMs.
  std::string ReadLine(int timeoutMs);
  // Everything that arrives within timeoutMs.
  std::string ReadAll(int timeoutMs);
  // True when the bridge closed the connection within timeoutMs.
  bool WaitClosed(int timeoutMs);

 private:
  int fd = -1;
  std::string pending;
};

// A loopback TCP port that nothing listens on now, with `port + 2` free too
// (the bridge gives a second rotator the port two above the first).
int FreePortPair();

}  // namespace bridge_test
